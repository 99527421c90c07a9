/* cluster: two installations, as two machines have them, on one shared store.
 *
 *   QLM_ROOTDIR=<west root> ./qlm_cluster join    adds the project "West" with a logon
 *                                                  reading mailbox WEST
 *   QLM_ROOTDIR=<east root> ./qlm_cluster east    adds the project "East" with two
 *                                                  addresses, and sends a file from
 *                                                  mailbox EAST to mailbox WEST
 *   QLM_ROOTDIR=<west root> ./qlm_cluster west    lists the addresses east added and
 *                                                  receives the file
 *
 * Both installations name the same PostgreSQL database in quillmar.ini, section
 * [Store]; each starts its own Request Manager. See tools/demo-cluster.sh.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qlmc32.h"

#define PUT(field, text) QlmReplaceField((field), (int)sizeof(field), (text))
#define BLANK(rec) QlmResetMem((char *)&(rec), (int)sizeof(rec))

static int failures = 0;

static int step(const char *what, QlmRc rc) {
  QlmErrText t;
  if (rc == 0) {
    printf("  ok    %s\n", what);
    return 1;
  }
  memset(&t, 0, sizeof t);
  printf("  FAIL  %s: return code %u, error %u: %.80s\n", what, (unsigned)rc,
         (unsigned)QlmErrorExplanation((char *)&t), t.errormessage);
  failures++;
  return 0;
}

static int trimmed(const char *field, int width) {
  while (width > 0 && field[width - 1] == ' ') width--;
  return width;
}

/* Opens (or adds) a project with its address book, mailbox and message system, and
 * a logon reading `mailbox`. */
static void openProject(const char *project, const char *logon, const char *mailbox) {
  QlmProjOpen open;
  QlmProj proj;
  QlmVnLogonReq l;
  QlmContextName c;
  BLANK(open);
  PUT(open.context, project);
  if (QlmOpenProj((char *)&open, NULL) != 0) {
    BLANK(proj);
    PUT(proj.projname, project);
    step("project added", QlmAddProj((char *)&proj, NULL));
  }
  BLANK(l);
  PUT(l.context, project);
  PUT(l.logonid, logon);
  PUT(l.mailboxid, mailbox);
  if (QlmAddVnLogon((char *)&l, NULL) != 0) QlmReplaceVnLogon((char *)&l, NULL);
  BLANK(c);
  PUT(c.context, project);
  step("address book opened", QlmOpenAdbk((char *)&c));
  step("message system opened", QlmOpenMsys((char *)&c));
}

static void startSession(const char *project, const char *logon) {
  QlmSessStartReq s;
  BLANK(s);
  PUT(s.context, project);
  PUT(s.field1115, logon);
  step("session started", QlmStartSess((char *)&s, NULL));
}

static void east(void) {
  const char *names[][2] = {{"ada", "London"}, {"grace", "Arlington"}};
  QlmAddrReq a;
  QlmSendOrdrDoReq send;
  QlmSendOrdrDone done;
  FILE *f;
  char path[256];
  int i;
  openProject("East", "east", "EAST");
  for (i = 0; i < 2; i++) {  /* into the shared project's address book */
    BLANK(a);
    PUT(a.context, "East");
    PUT(a.addr.nickname, names[i][0]);
    PUT(a.addr.city, names[i][1]);
    if (QlmAddAddr((char *)&a, NULL) != 0) QlmReplaceAddr((char *)&a, NULL);
    printf("  ok    address %s kept in East's address book\n", names[i][0]);
  }
  snprintf(path, sizeof path, "%s/exchange/greeting.txt", getenv("QLM_ROOTDIR") ? getenv("QLM_ROOTDIR") : ".");
  if ((f = fopen(path, "w")) != NULL) {
    fputs("Greetings from the east.\n", f);
    fclose(f);
  }
  startSession("East", "east");
  BLANK(send);
  PUT(send.context, "East");
  PUT(send.mailboxid, "WEST");
  PUT(send.field781, "greeting.txt");
  PUT(send.field790, "from the east");
  BLANK(done);
  if (step("greeting.txt sent to WEST", QlmDoSendOrdr((char *)&send, (char *)&done)))
    printf("          message id %.16s\n", done.field8022);
}

static void west(void) {
  QlmProjOpen open;
  QlmContextName c;
  QlmListQual q;
  QlmAddr addrs[10];
  QlmRecvOrdrDoReq r;
  QlmRecvOrdrDone got;
  uint16_t count = 0, i;
  openProject("West", "west", "WEST");
  /* The other installation's project, in the same store. */
  BLANK(open);
  PUT(open.context, "East");
  step("project East opened from the west", QlmOpenProj((char *)&open, NULL));
  BLANK(c);
  PUT(c.context, "East");
  step("East's address book opened", QlmOpenAdbk((char *)&c));
  BLANK(q);
  PUT(q.context, "East");
  PUT(q.startentry, "1");
  PUT(q.numentries, "10");
  BLANK(addrs);
  if (step("East's addresses, seen from the west:", QlmListAddr((char *)&q, &count, (char *)addrs)))
    for (i = 0; i < count; i++)
      printf("          %.*s, %.*s\n", trimmed(addrs[i].nickname, 20), addrs[i].nickname, trimmed(addrs[i].city, 20),
             addrs[i].city);
  startSession("West", "west");
  BLANK(r);
  PUT(r.context, "West");
  PUT(r.fileid, "from-east.txt");
  BLANK(got);
  if (step("the east's message received as exchange/from-east.txt", QlmDoRecvOrdr((char *)&r, (char *)&got))) {
    char path[256], line[128] = "";
    FILE *f;
    printf("          receipt %.*s, status %.5s\n", trimmed(got.name, 20), got.name, got.field722);
    snprintf(path, sizeof path, "%s/exchange/from-east.txt", getenv("QLM_ROOTDIR") ? getenv("QLM_ROOTDIR") : ".");
    if ((f = fopen(path, "r")) != NULL) {
      if (fgets(line, sizeof line, f) != NULL) printf("          it reads: %s", line);
      fclose(f);
    }
  }
}

static void join(void) { openProject("West", "west", "WEST"); }

int main(int argc, char **argv) {
  static const struct {
    const char *name;
    void (*run)(void);
  } modes[] = {{"join", join}, {"east", east}, {"west", west}};
  size_t m = 0;
  while (argc > 1 && m < sizeof modes / sizeof modes[0] && strcmp(argv[1], modes[m].name) != 0) m++;
  if (argc < 2 || m == sizeof modes / sizeof modes[0]) {
    fprintf(stderr, "usage: %s join|east|west\n", argv[0]);
    return 2;
  }
  printf("%s (installation root %s)\n", argv[1], getenv("QLM_ROOTDIR") ? getenv("QLM_ROOTDIR") : "?");
  if (!step("interface opened", QlmOpenCInterface())) return 1;
  modes[m].run();
  step("interface closed", QlmCloseCInterface());
  return failures ? 1 : 0;
}
