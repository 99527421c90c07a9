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

/* A failed step: says which and why on stderr, and exits with `code`. */
static int failed(const char *what, QlmRc rc, int code) {
  QlmErrText t;
  QlmResetMem((char *)&t, sizeof t);
  fprintf(stderr, "qlm_concurrent_app: %s: return code %u, error %u: %.80s\n", what, (unsigned)rc,
          (unsigned)QlmErrorExplanation((char *)&t), t.errormessage);
  return code;
}

int main(int argc, char **argv) {
  QlmProj p;
  QlmContextName c;
  QlmAddrReq r;
  char project[24], nick[24];
  int k, count;
  if (argc < 3) return 2;
  count = atoi(argv[2]);
  snprintf(project, sizeof project, "C%s", argv[1]);
  QlmRc rc;
  if ((rc = QlmOpenCInterface()) != 0) return failed("open", rc, 3);
  QlmResetMem((char *)&p, sizeof p);
  PUT(p.projname, project);
  if ((rc = QlmAddProj((char *)&p, NULL)) != 0) return failed("add project", rc, 4);
  QlmResetMem((char *)&c, sizeof c);
  PUT(c.context, project);
  if ((rc = QlmOpenAdbk((char *)&c)) != 0) return failed("open address book", rc, 5);
  QlmResetMem((char *)&r, sizeof r);
  PUT(r.context, project);
  PUT(r.addr.city, "Somewhere");
  for (k = 0; k < count; k++) {
    snprintf(nick, sizeof nick, "a%d", k);
    PUT(r.addr.nickname, nick);
    if ((rc = QlmAddAddr((char *)&r, NULL)) != 0) return failed("add address", rc, 6);
  }
  return (rc = QlmCloseCInterface()) == 0 ? 0 : failed("close", rc, 7);
}
