// Stand-in until the image thread lands: hands the page on unchanged.
#include "driver/image_thread.h"

#include "driver/job_state.h"

void *ImageProcThread(void *param) {
  SetSlotState(static_cast<JobInfo *>(param), kSlotReady);
  return nullptr;
}
