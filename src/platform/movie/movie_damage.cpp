#include "platform/movie/movie_damage.h"

#include <algorithm>

namespace {

// A reference picture still without a frame when this many pictures sent
// after it have given theirs was dropped by the decoder; the deepest reorder
// a decoder keeps is 16.
constexpr size_t kDropped = 32;
// Pictures kept behind the frontier, for frames judged after more came out.
constexpr size_t kKept = 256;

bool refers_on(PictureKind k) {
  return k == PictureKind::Refresh || k == PictureKind::Intra || k == PictureKind::Standalone ||
         k == PictureKind::Reference;
}

SentPicture* find(MovieDamage* d, int64_t pts, size_t* at = nullptr) {
  const auto it = std::lower_bound(d->sent.begin(), d->sent.end(), pts,
                                   [](const SentPicture& p, int64_t v) { return p.pts < v; });
  if (it == d->sent.end() || it->pts != pts) return nullptr;
  if (at != nullptr) *at = static_cast<size_t>(it - d->sent.begin());
  return &*it;
}

void make_none(SentPicture& p) {
  p.resolved = true;
  p.damaged = p.damaged || p.kind != PictureKind::NotCoded;
}

// Passes the frontier over every picture whose tainting is known: up to the
// first reference picture still without a frame.
void advance(MovieDamage* d) {
  while (d->frontier < d->sent.size()) {
    SentPicture& p = d->sent[d->frontier];
    if (refers_on(p.kind) && !p.resolved) break;
    switch (p.kind) {
      case PictureKind::Refresh:
        p.tainted = false;
        d->before_intra = false;
        d->chain = p.damaged;
        d->references = 1;
        break;
      case PictureKind::Intra:
        p.tainted = false;
        d->before_intra = d->chain;
        d->chain = p.damaged;
        d->references = 1;
        break;
      case PictureKind::Standalone:
        p.tainted = false;
        d->chain = d->chain || p.damaged;
        ++d->references;
        break;
      case PictureKind::Reference:
        p.tainted = d->chain;
        d->chain = d->chain || p.damaged;
        ++d->references;
        break;
      case PictureKind::Droppable:
        p.tainted = d->chain || (d->references < 2 && d->before_intra);
        break;
      case PictureKind::NotCoded:
        p.tainted = d->chain;
        break;
    }
    ++d->frontier;
  }
  while (d->frontier > kKept) {
    d->sent.pop_front();
    --d->frontier;
  }
}

}  // namespace

void damage_begin(MovieDamage* d) { *d = MovieDamage{}; }

void damage_sent(MovieDamage* d, int64_t pts, PictureKind kind, bool damaged, bool guessed) {
  if (!d->sent.empty() && pts <= d->sent.back().pts) return;
  d->sent.push_back(SentPicture{pts, kind, damaged, kind == PictureKind::NotCoded, false, guessed});
  advance(d);
}

void damage_unreferenced(MovieDamage* d) {
  // Those the frontier has not passed: a guessed one stops it until it is
  // resolved.
  for (size_t i = d->sent.size(); i-- > d->frontier;) {
    SentPicture& p = d->sent[i];
    if (!p.guessed) {
      if (refers_on(p.kind)) break;
      continue;
    }
    p.kind = PictureKind::Droppable;
    p.guessed = false;
  }
  advance(d);
}

void damage_out(MovieDamage* d, int64_t pts, bool errors, bool never_reorders) {
  size_t at = 0;
  SentPicture* p = find(d, pts, &at);
  if (p == nullptr) return;
  p->resolved = true;
  p->damaged = p->damaged || errors;
  for (size_t i = d->frontier; i < at; ++i) {
    SentPicture& before = d->sent[i];
    if (!before.resolved && (never_reorders || (refers_on(before.kind) && at - i > kDropped))) make_none(before);
  }
  advance(d);
}

void damage_lost(MovieDamage* d, int64_t pts) {
  SentPicture* p = find(d, pts);
  if (p == nullptr) return;
  make_none(*p);
  advance(d);
}

void damage_end(MovieDamage* d) {
  for (SentPicture& p : d->sent)
    if (!p.resolved) make_none(p);
  advance(d);
}

int damage_judge(MovieDamage* d, int64_t pts) {
  size_t at = 0;
  const SentPicture* p = find(d, pts, &at);
  if (p == nullptr) return 0;
  if (!p->resolved || at >= d->frontier) return -1;
  return p->damaged || p->tainted ? 0 : 1;
}
