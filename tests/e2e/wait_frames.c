/* Waits until the program has put COUNT new frames on its window: it paints
   the window's top-left pixel a colour the program does not draw there and
   waits until a frame covers it, COUNT times over. The program puts each frame on the
   window whole and waits for the X server to take it before its next frame
   reads input, so the second frame counted comes from input the server had
   before this started: wait for 2 to know that a press or a move was seen.
   Usage: wait_frames WINDOW COUNT SECONDS; exit code 1 when the frames did
   not come within SECONDS or the window is gone. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static int window_gone;

static int on_error(Display* d, XErrorEvent* e) {
  (void)d;
  (void)e;
  window_gone = 1;
  return 0;
}

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* The top-left pixel's value; sets window_gone when it cannot be read. */
static unsigned long corner(Display* d, Window w) {
  XImage* image = XGetImage(d, w, 0, 0, 1, 1, AllPlanes, ZPixmap);
  XSync(d, False);
  if (!image) {
    window_gone = 1;
    return 0;
  }
  unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return pixel;
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
  if (!XGetWindowAttributes(d, w, &attributes)) return 1;
  /* Two odd colours, the second where a mark left by a run that gave up
     still shows the first. */
  Visual* v = attributes.visual;
  unsigned long marks[2] = {(v->red_mask & 0x5a5a5a5a) | (v->green_mask & 0x17171717) | (v->blue_mask & 0xc3c3c3c3),
                            (v->red_mask & 0xc3c3c3c3) | (v->green_mask & 0x17171717) | (v->blue_mask & 0x5a5a5a5a)};
  GC gc = XCreateGC(d, w, 0, NULL);
  struct timespec pause = {0, 2000000};
  for (int i = 0; i < count; ++i) {
    unsigned long mark = corner(d, w) == marks[0] ? marks[1] : marks[0];
    XSetForeground(d, gc, mark);
    XFillRectangle(d, w, gc, 0, 0, 1, 1);
    XSync(d, False);
    while (!window_gone && corner(d, w) == mark) {
      if (now() > deadline) {
        fprintf(stderr, "wait_frames: %d of %d frames drawn in %s s\n", i, count, argv[3]);
        return 1;
      }
      nanosleep(&pause, NULL);
    }
    if (window_gone) {
      fprintf(stderr, "wait_frames: the window is gone\n");
      return 1;
    }
  }
  XCloseDisplay(d);
  return 0;
}
