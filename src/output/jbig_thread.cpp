// Stand-in until the compression thread lands: releases pages in page order.
#include "output/jbig_thread.h"

#include <cstdlib>

#include "driver/job_state.h"

void *JbigThread(void *param) {
  JobInfo *ring = static_cast<JobInfo *>(param);
  DWORD CurrentPage = 0;
  while (!JbigThreadExitRequested()) {
    DWORD ticket = SlotChangeTicket();
    JobInfo *slot = &ring[CurrentPage % static_cast<DWORD>(MaxThreads())];
    BYTE *bitmap = SlotBitmap(slot);
    if (bitmap == nullptr || SlotState(slot) != kSlotReady) {
      WaitSlotChange(ticket, kPollMs);
      continue;
    }
    free(bitmap);
    SetSlotBitmap(slot, nullptr);
    SetSlotState(slot, kSlotFree);
    ++CurrentPage;
  }
  return nullptr;
}
