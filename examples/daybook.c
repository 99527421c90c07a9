/* daybook: a short working day with the messaging interface.
 *
 * Opens the interface (which starts the Request Manager), opens the project
 * "Daybook" (adding it the first time), keeps an address book, lists what it
 * holds, shows how an error is explained, and closes again. Run it twice: the
 * second run finds the project and the entries of the first.
 *
 *   QLM_ROOTDIR=<installation root> ./qlm_daybook
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qlmc32.h"

#define PUT(field, text) QlmReplaceField((field), (int)sizeof(field), (text))
#define BLANK(rec) QlmResetMem((char *)&(rec), (int)sizeof(rec))

static const char *kProject = "Daybook";
static int failures = 0;

/* Prints one step of the report; on failure, the explained error too. */
static int step(const char *what, QlmRc rc) {
  QlmErrText t;
  if (rc == 0) {
    printf("  ok    %s\n", what);
    return 1;
  }
  memset(&t, 0, sizeof t);
  QlmRc number = QlmErrorExplanation((char *)&t);
  printf("  FAIL  %s: return code %u, error %u: %.80s\n", what, (unsigned)rc, (unsigned)number, t.errormessage);
  failures++;
  return 0;
}

/* Prints a field without its trailing blanks. */
static void show(const char *label, const char *field, int width) {
  while (width > 0 && field[width - 1] == ' ') width--;
  printf("%s%.*s", label, width, field);
}

static void context(QlmContextName *c) {
  BLANK(*c);
  PUT(c->context, kProject);
}

static void openOrAddProject(void) {
  QlmProjOpen open;
  QlmProj proj;
  BLANK(open);
  PUT(open.context, kProject);
  if (QlmOpenProj((char *)&open, NULL) == 0) {
    printf("  ok    project %s opened (it was there from an earlier run)\n", kProject);
    return;
  }
  BLANK(proj);
  PUT(proj.projname, kProject);
  PUT(proj.field454, "The sample application's project");
  step("project Daybook added (and opened)", QlmAddProj((char *)&proj, NULL));
}

static void addAddress(const char *nick, const char *last, const char *company, const char *city) {
  QlmAddrReq req;
  QlmAddr out;
  char what[80];
  BLANK(req);
  PUT(req.context, kProject);
  PUT(req.addr.nickname, nick);
  PUT(req.addr.lastname, last);
  PUT(req.addr.company, company);
  PUT(req.addr.city, city);
  PUT(req.addr.mailboxid, nick);
  BLANK(out);
  snprintf(what, sizeof what, "address %s added", nick);
  if (QlmAddAddr((char *)&req, (char *)&out) == 0) {
    printf("  ok    %s\n", what);
    return;
  }
  /* Present from an earlier run: replace it instead. */
  snprintf(what, sizeof what, "address %s replaced", nick);
  step(what, QlmReplaceAddr((char *)&req, NULL));
}

static void listAddresses(const char *title, const char *selectField, const char *op, const char *value) {
  QlmListQual q;
  QlmAddr entries[50];
  uint16_t count = 0;
  int i;
  BLANK(q);
  PUT(q.context, kProject);
  PUT(q.selectfield, selectField);
  PUT(q.operator_, op);
  PUT(q.selectvalue, value);
  PUT(q.sortfield, "lastname");
  PUT(q.sortorder, "A");
  PUT(q.startentry, "1");
  PUT(q.numentries, "50");
  BLANK(entries);
  if (!step(title, QlmListAddr((char *)&q, &count, (char *)entries))) return;
  for (i = 0; i < count; i++) {
    show("          ", entries[i].nickname, (int)sizeof entries[i].nickname);
    show("  ", entries[i].lastname, (int)sizeof entries[i].lastname);
    show(", ", entries[i].company, (int)sizeof entries[i].company);
    show(", ", entries[i].city, (int)sizeof entries[i].city);
    printf("\n");
  }
}

static void addressBookDay(void) {
  QlmContextName c;
  QlmDistListReq dl;
  QlmTradProfReq tp;
  QlmAssignReq asg;
  QlmAddrReq del;
  QlmSmallListQual sq;
  QlmAddr onList[10];
  uint16_t count = 0;

  context(&c);
  step("address book opened", QlmOpenAdbk((char *)&c));
  addAddress("ada", "Lovelace", "Analytical Engines", "London");
  addAddress("grace", "Hopper", "Navy Computing", "Arlington");
  addAddress("alan", "Turing", "Bletchley", "Wilmslow");
  addAddress("temp", "Temporary", "Nobody", "Nowhere");

  BLANK(dl);
  PUT(dl.context, kProject);
  PUT(dl.distlist.name, "pioneers");
  PUT(dl.distlist.description, "People who started it all");
  if (QlmAddDistList((char *)&dl, NULL) != 0) step("distribution list pioneers replaced", QlmReplaceDistList((char *)&dl, NULL));
  else printf("  ok    distribution list pioneers added\n");

  BLANK(tp);
  PUT(tp.context, kProject);
  PUT(tp.tradprof.name, "partners");
  if (QlmAddTradProf((char *)&tp, NULL) != 0) printf("  ok    trading profile partners kept from an earlier run\n");
  else printf("  ok    trading profile partners added\n");

  BLANK(asg);
  PUT(asg.context, kProject);
  PUT(asg.container, "pioneers");
  PUT(asg.member, "ada");
  QlmAsgAddrToDistList((char *)&asg); /* may exist from an earlier run */
  PUT(asg.member, "grace");
  QlmAsgAddrToDistList((char *)&asg);
  printf("  ok    ada and grace are on the list pioneers\n");
  PUT(asg.container, "partners");
  PUT(asg.member, "pioneers");
  QlmAsgDistListToTradProf((char *)&asg);
  printf("  ok    pioneers is on the trading profile partners\n");

  BLANK(del);
  PUT(del.context, kProject);
  PUT(del.addr.nickname, "temp");
  step("address temp deleted", QlmDeleteAddr((char *)&del));

  listAddresses("addresses sorted by last name:", "", "", "");
  listAddresses("addresses in a city after K (city > K):", "city", ">", "K");

  BLANK(sq);
  PUT(sq.context, kProject);
  PUT(sq.startentry, "1");
  PUT(sq.numentries, "10");
  BLANK(onList);
  if (step("addresses on the list pioneers:", QlmListAddrsOnDistList("pioneers            ", (char *)&sq, &count, (char *)onList))) {
    int i;
    for (i = 0; i < count; i++) {
      show("          ", onList[i].nickname, (int)sizeof onList[i].nickname);
      printf("\n");
    }
  }
  step("address book closed", QlmCloseAdbk((char *)&c));
}

int main(void) {
  QlmContextName c;
  QlmPaging paging;
  QlmProjInfo projects[20];
  QlmErrText t;
  uint16_t count = 0;
  QlmRc rc;
  int i;

  printf("Daybook: a working day with the messaging interface\n\n");
  printf("Opening\n");
  if (!step("interface opened (Request Manager started)", QlmOpenCInterface())) return 1;
  openOrAddProject();
  context(&c);

  printf("\nAddress book\n");
  addressBookDay();

  printf("\nMailbox and message system\n");
  step("mailbox opened", QlmOpenMbox((char *)&c));
  step("mailbox closed", QlmCloseMbox((char *)&c));
  step("message system opened", QlmOpenMsys((char *)&c));
  step("message system closed", QlmCloseMsys((char *)&c));

  printf("\nProjects\n");
  BLANK(paging);
  PUT(paging.startentry, "1");
  PUT(paging.numentries, "20");
  BLANK(projects);
  if (step("projects listed:", QlmListProj((char *)&paging, &count, (char *)projects)))
    for (i = 0; i < count; i++) {
      show("          ", projects[i].projname, (int)sizeof projects[i].projname);
      show("  ", projects[i].field454, (int)sizeof projects[i].field454);
      printf("\n");
    }

  printf("\nAn error, on purpose\n");
  rc = QlmOpenMbox(NULL);
  memset(&t, 0, sizeof t);
  printf("  QlmOpenMbox(NULL) returned %u; QlmErrorExplanation says %u:\n", (unsigned)rc,
         (unsigned)QlmErrorExplanation((char *)&t));
  printf("    message:     %.80s\n    explanation: %.200s\n    response:    %.200s\n", t.errormessage,
         t.errorexplanation, t.errorresponse);

  printf("\nClosing\n");
  step("project closed", QlmCloseProj((char *)&c));
  step("interface closed (Request Manager ended)", QlmCloseCInterface());
  printf("\n%s\n", failures ? "Some steps failed." : "All steps done.");
  return failures ? 1 : 0;
}
