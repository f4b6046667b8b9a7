#include "vdisk/HashPipeline.h"

#include "ffu/ChunkVerifier.h"

HashPipeline::HashPipeline(ChunkVerifier* check)
    : verifier(check != nullptr && check->Checking() ? check : nullptr) {
  if (verifier == nullptr) return;
  work.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  finished.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (work.Valid() && finished.Valid())
    thread.Reset(CreateThread(nullptr, 0, &HashPipeline::Run, this, 0, nullptr));
  // The check takes the CPU that the copy leaves idle: the copy thread and
  // the system's work for the disk writes come first. A priority that cannot
  // be set costs speed only.
  if (thread.Valid()) SetThreadPriority(thread.Get(), THREAD_PRIORITY_IDLE);
}

HashPipeline::~HashPipeline() {
  if (!thread.Valid()) return;
  stopping = true;
  SetEvent(work.Get());
  WaitForSingleObject(thread.Get(), INFINITE);
}

uint64_t HashPipeline::Post(uint64_t offset, const uint8_t* data, size_t length) {
  if (verifier == nullptr) return 0;
  uint64_t ticket = posted.load();
  if (!thread.Valid()) {
    verifier->Feed(offset, data, length);
    posted = ticket + 1;
    done = ticket + 1;
    return ticket;
  }
  if (ticket >= kSlots) WaitFor(ticket - kSlots);
  ranges[ticket % kSlots] = Range{offset, data, length};
  posted = ticket + 1;
  SetEvent(work.Get());
  return ticket;
}

void HashPipeline::WaitFor(uint64_t ticket) {
  if (verifier == nullptr || Checked(ticket)) return;
  // The copy waits for the check: until it has caught up, the check gets a
  // full share of the CPU, also on a machine that other work keeps busy.
  SetThreadPriority(thread.Get(), THREAD_PRIORITY_NORMAL);
  // An auto-reset event may wake the wait for an earlier range; look again.
  while (!Checked(ticket)) WaitForSingleObject(finished.Get(), INFINITE);
  SetThreadPriority(thread.Get(), THREAD_PRIORITY_IDLE);
}

bool HashPipeline::Checked(uint64_t ticket) const {
  return done.load() > ticket || ticket >= posted.load();
}

void HashPipeline::WaitAll() {
  uint64_t all = posted.load();
  if (all > 0) WaitFor(all - 1);
}

DWORD WINAPI HashPipeline::Run(LPVOID self) {
  static_cast<HashPipeline*>(self)->Drain();
  return 0;
}

void HashPipeline::Drain() {
  for (;;) {
    while (done.load() < posted.load()) {
      const Range& range = ranges[done.load() % kSlots];
      verifier->Feed(range.offset, range.data, range.length);
      done = done.load() + 1;
      SetEvent(finished.Get());
    }
    if (stopping.load()) return;
    WaitForSingleObject(work.Get(), INFINITE);
  }
}
