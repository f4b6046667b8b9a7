#include "ffu/ChunkHashPool.h"

#include "common/FileRange.h"

namespace {
constexpr uint32_t kFewestThreads = 2;
// Four threads hash faster than disks read; each costs its caller a buffer.
constexpr uint32_t kMostThreads = 4;
}  // namespace

uint32_t ChunkHashPool::ThreadsWanted() {
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  DWORD processors = system.dwNumberOfProcessors;
  if (processors < kFewestThreads) return kFewestThreads;
  return processors > kMostThreads ? kMostThreads : processors;
}

ChunkHashPool::ChunkHashPool(ChunkVerifier* check, uint32_t slots, Priority priority)
    : verifier(check != nullptr && check->Checking() ? check : nullptr),
      slotCount(slots > 0 ? slots : 1),
      priority(priority) {
  if (verifier == nullptr) return;
  this->slots.reset(new Slot[slotCount]);
  work.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  finished.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  bool events = work.Valid() && finished.Valid();
  for (uint32_t i = 0; events && i < slotCount; ++i) {
    this->slots[i].turn.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    events = this->slots[i].turn.Valid();
  }
  // Without its events or threads the pool hashes each range as it comes.
  if (!events || !StartWorkers()) StopWorkers();
  // A priority that cannot be set costs speed only.
  if (priority == kIdleUnlessAwaited) SetPriority(THREAD_PRIORITY_IDLE);
}

void ChunkHashPool::SetPriority(int value) {
  for (uint32_t i = 0; i < threadCount; ++i) SetThreadPriority(workers[i].thread.Get(), value);
}

ChunkHashPool::~ChunkHashPool() { StopWorkers(); }

bool ChunkHashPool::StartWorkers() {
  uint32_t wanted = ThreadsWanted();
  workers.reset(new Worker[wanted]);
  for (uint32_t i = 0; i < wanted; ++i) {
    Worker& worker = workers[i];
    worker.pool = this;
    if (!BCRYPT_SUCCESS(worker.hash.Open())) break;
    worker.thread.Reset(CreateThread(nullptr, 0, &ChunkHashPool::Run, &worker, 0, nullptr));
    if (!worker.thread.Valid()) break;
    threadCount = i + 1;
  }
  return threadCount > 0;
}

void ChunkHashPool::StopWorkers() {
  stopping = true;
  if (work.Valid()) SetEvent(work.Get());
  for (uint32_t i = 0; i < threadCount; ++i)
    WaitForSingleObject(workers[i].thread.Get(), INFINITE);
  threadCount = 0;
}

uint64_t ChunkHashPool::Post(uint64_t offset, const uint8_t* data, size_t length) {
  // Bytes posted without a read are only hashed, never written.
  return Queue(offset, const_cast<uint8_t*>(data), length, nullptr);
}

uint64_t ChunkHashPool::PostRead(HANDLE file, uint64_t offset, uint8_t* data, size_t length) {
  return Queue(offset, data, length, file);
}

uint64_t ChunkHashPool::Queue(uint64_t offset, uint8_t* data, size_t length, HANDLE readFrom) {
  if (verifier == nullptr) return 0;
  uint64_t ticket = posted.load();
  if (ticket >= slotCount) WaitFor(ticket - slotCount);
  Slot& slot = slots[ticket % slotCount];
  slot.readFrom = readFrom;
  slot.readOffset = offset;
  slot.readInto = data;
  slot.readLength = length;
  if (threadCount == 0) {
    ReadRange(slot);
    verifier->Feed(offset, data, length);
    posted = ticket + 1;
    collected = ticket + 1;
    return ticket;
  }
  // A range that cannot be cut (the check has ended) still gets its ticket,
  // with nothing in it to hash.
  verifier->Cut(offset, data, length, slot.range);
  posted = ticket + 1;
  SetEvent(work.Get());
  return ticket;
}

void ChunkHashPool::WaitFor(uint64_t ticket) {
  if (verifier == nullptr || threadCount == 0) return;
  for (; collected <= ticket && collected < posted.load(); ++collected) {
    Slot& slot = slots[collected % slotCount];
    // Until they have caught up, the threads get a full share of the
    // processors, also on a machine that other work keeps busy.
    bool raise = priority == kIdleUnlessAwaited && slot.finished.load() <= collected;
    if (raise) SetPriority(THREAD_PRIORITY_NORMAL);
    // An auto-reset event may wake the wait for another range; look again.
    while (slot.finished.load() <= collected) WaitForSingleObject(finished.Get(), INFINITE);
    if (raise) SetPriority(THREAD_PRIORITY_IDLE);
    verifier->Collect(slot.range);
  }
}

void ChunkHashPool::WaitAll() {
  uint64_t all = posted.load();
  if (all > 0) WaitFor(all - 1);
}

DWORD WINAPI ChunkHashPool::Run(LPVOID self) {
  Worker* worker = static_cast<Worker*>(self);
  worker->pool->Work(worker->hash);
  return 0;
}

// Takes the ranges in ticket order, each by one thread. A thread that takes
// a range wakes the next sleeper when more are waiting, and one that stops
// wakes the next, since one event serves them all.
void ChunkHashPool::Work(Sha256Hash& hash) {
  for (;;) {
    uint64_t ticket = claimed.load();
    if (ticket < posted.load()) {
      if (!claimed.compare_exchange_weak(ticket, ticket + 1)) continue;
      if (ticket + 1 < posted.load()) SetEvent(work.Get());
      Hash(ticket, hash);
      continue;
    }
    if (stopping.load()) {
      SetEvent(work.Get());
      return;
    }
    WaitForSingleObject(work.Get(), INFINITE);
  }
}

// The open chunk's pieces go first, once the range before has passed the
// running hash on; then the range's whole chunks, alongside other threads.
void ChunkHashPool::Hash(uint64_t ticket, Sha256Hash& hash) {
  Slot& slot = slots[ticket % slotCount];
  ReadRange(slot);
  while (runningTurn.load() != ticket) WaitForSingleObject(slot.turn.Get(), INFINITE);
  verifier->HashOpenChunk(slot.range);
  runningTurn = ticket + 1;
  SetEvent(slots[(ticket + 1) % slotCount].turn.Get());
  verifier->HashWholeChunks(slot.range, hash);
  slot.finished = ticket + 1;
  SetEvent(finished.Get());
}

void ChunkHashPool::ReadRange(Slot& slot) {
  if (slot.readFrom != nullptr &&
      ReadFileRange(slot.readFrom, slot.readOffset, slot.readInto, slot.readLength) != 0)
    ++readFailures;
}
