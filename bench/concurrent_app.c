/* One application of the concurrency benchmark: opens the interface, adds the
 * project C<n>, and adds <count> addresses to its address book, one request each.
 * Exits 0 when every request succeeded.
 *
 *   qlm_concurrent_app <n> <count>
 */
#include <stdio.h>
#include <stdlib.h>

#include "qlmc32.h"

#define PUT(field, text) QlmReplaceField((field), (int)sizeof(field), (text))

int main(int argc, char **argv) {
  QlmProj p;
  QlmContextName c;
  QlmAddrReq r;
  char project[24], nick[24];
  int k, count;
  if (argc < 3) return 2;
  count = atoi(argv[2]);
  snprintf(project, sizeof project, "C%s", argv[1]);
  if (QlmOpenCInterface() != 0) return 3;
  QlmResetMem((char *)&p, sizeof p);
  PUT(p.projname, project);
  if (QlmAddProj((char *)&p, NULL) != 0) return 4;
  QlmResetMem((char *)&c, sizeof c);
  PUT(c.context, project);
  if (QlmOpenAdbk((char *)&c) != 0) return 5;
  QlmResetMem((char *)&r, sizeof r);
  PUT(r.context, project);
  PUT(r.addr.city, "Somewhere");
  for (k = 0; k < count; k++) {
    snprintf(nick, sizeof nick, "a%d", k);
    PUT(r.addr.nickname, nick);
    if (QlmAddAddr((char *)&r, NULL) != 0) return 6;
  }
  return QlmCloseCInterface() == 0 ? 0 : 7;
}
