#include "runtime/detached_thread.h"

#include <pthread.h>

int StartDetachedThread(void *(*start)(void *), void *arg) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t id;
  const int rc = pthread_create(&id, &attr, start, arg);
  pthread_attr_destroy(&attr);
  return rc;
}
