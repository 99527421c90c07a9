/* A second application for the end-to-end tests: opens the interface, adds
 * <count> projects named <prefix>NN, optionally checks that project <expect>
 * is listed, then closes the interface ("close") or ends without closing
 * ("abandon"). Exits 0 when every step succeeded.
 *
 *   qlm_second_app <prefix> <count> close|abandon [expect]
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "qlmc32.h"

#define PUT(field, text) QlmReplaceField((field), (int)sizeof(field), (text))

static int listed(const char *name) {
  QlmPaging paging;
  static QlmProjInfo infos[200];
  uint16_t count = 0, i;
  QlmResetMem((char *)&paging, sizeof paging);
  QlmResetMem((char *)infos, sizeof infos);
  PUT(paging.startentry, "1");
  PUT(paging.numentries, "200");
  if (QlmListProj((char *)&paging, &count, (char *)infos) != 0) return 0;
  for (i = 0; i < count; i++)
    if (strncmp(infos[i].projname, name, strlen(name)) == 0 && infos[i].projname[strlen(name)] == ' ') return 1;
  return 0;
}

int main(int argc, char **argv) {
  int count, i;
  if (argc < 4) return 2;
  count = atoi(argv[2]);
  if (QlmOpenCInterface() != 0) return 3;
  for (i = 0; i < count; i++) {
    QlmProj p;
    char name[24];
    snprintf(name, sizeof name, "%s%02d", argv[1], i);
    QlmResetMem((char *)&p, sizeof p);
    PUT(p.projname, name);
    if (QlmAddProj((char *)&p, NULL) != 0) return 4;
  }
  if (argc > 4 && !listed(argv[4])) return 5;
  if (strcmp(argv[3], "abandon") == 0) _exit(0); /* no close: the server forgets it */
  return QlmCloseCInterface() == 0 ? 0 : 6;
}
