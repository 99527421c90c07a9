/* hello: a program of one's own against an installed qlmc32 (docs/getting-started.md).
 *
 *   hello          opens the interface, adds (or opens) the project "Hello", adds the
 *                  address of the user running it, lists the addresses; prints
 *                  "hello: <n> addresses" and exits 0
 *   hello write N  adds the addresses w000001..N one after another, printing each
 *                  name once it has been acknowledged (the backup test's writer)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <qlmc32.h>

#define PUT(field, text) QlmReplaceField((field), (int)sizeof(field), (text))
#define BLANK(rec) QlmResetMem((char *)&(rec), (int)sizeof(rec))

static int check(const char *what, QlmRc rc) {
  if (rc == QLM_RC_OK || rc == QLM_RC_WARNING) return 1;
  fprintf(stderr, "hello: %s failed: return code %u, error %u\n", what, (unsigned)rc,
          (unsigned)QlmErrorExplanation(NULL));
  return 0;
}

static QlmRc addAddress(const char *nick) {
  QlmAddrReq req;
  BLANK(req);
  PUT(req.context, "Hello");
  PUT(req.addr.nickname, nick);
  PUT(req.addr.lastname, nick);
  return QlmAddAddr((char *)&req, NULL);
}

int main(int argc, char **argv) {
  QlmProjOpen open;
  QlmProj proj;
  QlmContextName c;
  QlmListQual q;
  QlmAddr list[20];
  uint16_t count = 0;
  const char *user = getenv("USER") != NULL ? getenv("USER") : "someone";
  int ok;

  if (!check("QlmOpenCInterface", QlmOpenCInterface())) return 1;
  BLANK(open);
  PUT(open.context, "Hello");
  if (QlmOpenProj((char *)&open, NULL) != QLM_RC_OK) {
    BLANK(proj);
    PUT(proj.projname, "Hello");
    if (!check("QlmAddProj", QlmAddProj((char *)&proj, NULL))) return 1;
  }
  BLANK(c);
  PUT(c.context, "Hello");
  ok = check("QlmOpenAdbk", QlmOpenAdbk((char *)&c));
  if (ok && argc == 3 && strcmp(argv[1], "write") == 0) {
    int i, n = atoi(argv[2]);
    char nick[16];
    for (i = 1; ok && i <= n; i++) {
      snprintf(nick, sizeof nick, "w%06d", i);
      ok = check("QlmAddAddr", addAddress(nick));
      if (ok) printf("%s\n", nick);
      fflush(stdout);
    }
  } else if (ok) {
    if (addAddress(user) != QLM_RC_OK && QlmErrorExplanation(NULL) != 30007) ok = check("QlmAddAddr", 12);
    BLANK(q);
    PUT(q.context, "Hello");
    PUT(q.startentry, "1");
    PUT(q.numentries, "20");
    ok = ok && check("QlmListAddr", QlmListAddr((char *)&q, &count, (char *)list));
    if (ok) printf("hello: %u addresses\n", (unsigned)count);
  }
  check("QlmCloseProj", QlmCloseProj((char *)&c));
  check("QlmCloseCInterface", QlmCloseCInterface());
  return ok ? 0 : 1;
}
