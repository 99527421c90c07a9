/* The round trip of one request through the real Request Manager, timed by a plain
 * program that builds for Linux and for Windows (tools/windows-check.sh runs both and
 * prints them side by side): opens the interface, lists the projects `count` times
 * (after a few not counted), and prints the mean time of one list in microseconds.
 *
 *   QLM_ROOTDIR=<installation root> qlm_roundtrip [count]
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include "qlmc32.h"

/* A monotonic clock, in seconds. */
static double seconds(void) {
#ifdef _WIN32
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return (double)c.QuadPart / (double)f.QuadPart;
#else
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
#endif
}

int main(int argc, char **argv) {
  int count = argc > 1 ? atoi(argv[1]) : 2000;
  int i;
  double start;
  uint16_t found = 0;
  QlmPaging paging;
  QlmRc rc;
  if (count <= 0) return 2;
  if ((rc = QlmOpenCInterface()) != 0) {
    fprintf(stderr, "qlm_roundtrip: the interface did not open (%u)\n", (unsigned)rc);
    return 1;
  }
  QlmResetMem((char *)&paging, sizeof paging);
  QlmReplaceField(paging.startentry, (int)sizeof paging.startentry, "1");
  QlmReplaceField(paging.numentries, (int)sizeof paging.numentries, "10");
  for (i = 0; i < 64; i++) QlmListProj((char *)&paging, &found, NULL);
  start = seconds();
  for (i = 0; i < count && rc == 0; i++) rc = QlmListProj((char *)&paging, &found, NULL);
  if (rc == 0)
    printf("round trip (list of projects): %.1f us over %d requests\n", (seconds() - start) * 1e6 / count, count);
  else
    fprintf(stderr, "qlm_roundtrip: request %d failed (%u)\n", i, (unsigned)rc);
  QlmCloseCInterface();
  return rc == 0 ? 0 : 1;
}
