// Threads nobody joins.
#pragma once

// Starts start(arg) on a detached thread; 0, or the error number of
// pthread_create.
int StartDetachedThread(void *(*start)(void *), void *arg);
