#include "vdisk/RunWriter.h"

#include "platform.h"

RunWriter::RunWriter(HANDLE disk, uint32_t slots)
    : disk(disk), slotCount(slots > 0 ? slots : 1), slots(new BlockRun*[slotCount]()) {
  work.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  done.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (work.Valid() && done.Valid())
    thread.Reset(CreateThread(nullptr, 0, &RunWriter::Run, this, 0, nullptr));
}

RunWriter::~RunWriter() {
  if (!thread.Valid()) return;
  stopping = true;
  SetEvent(work.Get());
  WaitForSingleObject(thread.Get(), INFINITE);
}

uint64_t RunWriter::Queue(BlockRun* run) {
  uint64_t ticket = queued.load();
  if (ticket >= slotCount) WaitFor(ticket - slotCount);
  slots[ticket % slotCount] = run;
  queued = ticket + 1;
  if (thread.Valid())
    SetEvent(work.Get());
  else
    WriteNext();
  return ticket;
}

DWORD RunWriter::WaitFor(uint64_t ticket) {
  // An auto-reset event may wake the wait for an earlier write; look again.
  while (written.load() <= ticket && ticket < queued.load())
    WaitForSingleObject(done.Get(), INFINITE);
  return failedTicket.load() <= ticket ? failure : 0;
}

DWORD WINAPI RunWriter::Run(LPVOID self) {
  static_cast<RunWriter*>(self)->Work();
  return 0;
}

// Writes what is queued; stops once nothing is left and it was told to.
void RunWriter::Work() {
  for (;;) {
    if (written.load() < queued.load()) {
      WriteNext();
      continue;
    }
    if (stopping.load()) return;
    WaitForSingleObject(work.Get(), INFINITE);
  }
}

void RunWriter::WriteNext() {
  uint64_t ticket = written.load();
  BlockRun* run = slots[ticket % slotCount];
  if (failedTicket.load() == UINT64_MAX) {
    DWORD code = run->Flush(disk);
    if (code != 0) {
      failure = code;
      failedTicket = ticket;
    }
  } else {
    run->Clear();
  }
  written = ticket + 1;
  if (thread.Valid()) SetEvent(done.Get());
}
