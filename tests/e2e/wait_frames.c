/* Waits until the program has put COUNT new frames on its window: it paints
   the window's top-left pixel a colour the program does not draw there and
   waits until a frame covers it, COUNT times over. The program puts each
   frame on the window whole and waits for the X server to take it before
   its next frame reads input, so the second frame counted comes from input
   the server had before this started: wait for 2 to know that a press or a
   move was seen.
   Usage: wait_frames WINDOW COUNT SECONDS; exit code 1 when the frames did
   not come within SECONDS or the window is gone. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static int x_error; /* the code of the last error, 0 when none came */

static int on_error(Display* d, XErrorEvent* e) {
  (void)d;
  x_error = e->error_code;
  return 0;
}

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

enum { GONE = -1, NOT_SHOWN = 0, READ = 1 };

/* Reads the top-left pixel. The window is found by its name before the
   program shows it, and only a shown window can be read or drawn on. */
static int corner(Display* d, Window w, unsigned long* pixel) {
  XWindowAttributes a;
  x_error = 0;
  if (!XGetWindowAttributes(d, w, &a)) return GONE;
  if (a.map_state != IsViewable) return NOT_SHOWN;
  XImage* image = XGetImage(d, w, 0, 0, 1, 1, AllPlanes, ZPixmap);
  XSync(d, False);
  if (!image) return x_error == BadMatch ? NOT_SHOWN : GONE;
  *pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return READ;
}

/* Marks the window and waits for frames to cover the mark until count of
   them have; 0 when they came before the deadline. */
static int wait_frames(Display* d, Window w, GC gc, const unsigned long marks[2], int count, double deadline) {
  struct timespec pause = {0, 2000000};
  int drawn = 0, marked = 0;
  unsigned long pixel = 0, mark = 0;
  for (;;) {
    int state = corner(d, w, &pixel);
    if (state == GONE) {
      fprintf(stderr, "wait_frames: the window is gone\n");
      return 1;
    }
    if (state == READ && marked && pixel != mark) {
      marked = 0;
      if (++drawn == count) return 0;
    }
    if (state == READ && !marked) {
      mark = pixel == marks[0] ? marks[1] : marks[0];
      XSetForeground(d, gc, mark);
      XFillRectangle(d, w, gc, 0, 0, 1, 1);
      XSync(d, False);
      marked = 1;
      continue;
    }
    if (now() > deadline) {
      fprintf(stderr, "wait_frames: %d of %d frames drawn in time\n", drawn, count);
      return 1;
    }
    nanosleep(&pause, NULL);
  }
}

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  Window w = (Window)strtoul(argv[1], NULL, 0);
  int count = atoi(argv[2]);
  double deadline = now() + atof(argv[3]);
  Display* d = XOpenDisplay(NULL);
  if (!d) return 1;
  XSetErrorHandler(on_error);
  XWindowAttributes attributes;
  int result = 1;
  if (XGetWindowAttributes(d, w, &attributes)) {
    /* Two odd colours, the second where a mark left by a run that gave up
       still shows the first. */
    Visual* v = attributes.visual;
    unsigned long marks[2] = {
        (v->red_mask & 0x5a5a5a5a) | (v->green_mask & 0x17171717) | (v->blue_mask & 0xc3c3c3c3),
        (v->red_mask & 0xc3c3c3c3) | (v->green_mask & 0x17171717) | (v->blue_mask & 0x5a5a5a5a)};
    GC gc = XCreateGC(d, w, 0, NULL);
    result = wait_frames(d, w, gc, marks, count, deadline);
    XFreeGC(d, gc);
  } else {
    fprintf(stderr, "wait_frames: no window %s\n", argv[1]);
  }
  XCloseDisplay(d);
  return result;
}
