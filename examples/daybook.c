/* daybook: a short working day with the messaging interface.
 *
 * Opens the interface (which starts the Request Manager), opens the project
 * "Daybook" (adding it the first time), keeps an address book, lists what it
 * holds, keeps a mailbox (a send and a receive order in a drop box, listed
 * together on the order shelf, and a receipt of each on the receipt shelf),
 * exchanges files through the network with a second project, "Postroom" (a
 * session on each side: Daybook sends, Postroom queries, receives and purges;
 * then the drop box runs its orders), shows how an error is explained, and
 * closes again. Run it twice: the second run finds the projects and the entries
 * of the first.
 *
 *   QLM_ROOTDIR=<installation root> ./qlm_daybook
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#define makeDir(path) _mkdir(path)
#else
#define makeDir(path) mkdir((path), 0700)
#endif

#include "qlmc32.h"

#define PUT(field, text) QlmReplaceField((field), (int)sizeof(field), (text))
#define BLANK(rec) QlmResetMem((char *)&(rec), (int)sizeof(rec))

static const char *kProject = "Daybook";
static const char *kPostroom = "Postroom";
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

/* The length of a field without its trailing blanks. */
static int trimmed(const char *field, int width) {
  while (width > 0 && field[width - 1] == ' ') width--;
  return width;
}

/* Prints a field without its trailing blanks. */
static void show(const char *label, const char *field, int width) {
  printf("%s%.*s", label, trimmed(field, width), field);
}

/* An assignment made now, or kept from an earlier run (the Request Manager's
 * error 30010: the assignment exists already). */
static void assignOnce(const char *what, QlmRc rc) {
  if (rc != 0 && QlmErrorExplanation(NULL) == 30010) {
    printf("  ok    %s (from an earlier run)\n", what);
    return;
  }
  step(what, rc);
}

/* Adds an entry, or replaces it when an earlier run added it already (the
 * replace request may have a layout of its own). */
static void addOrReplace(const char *what, QlmRc (*add)(char *, char *), void *addRequest,
                         QlmRc (*replace)(char *, char *), void *replaceRequest) {
  char line[96];
  if (add((char *)addRequest, NULL) == 0) {
    printf("  ok    %s added\n", what);
    return;
  }
  snprintf(line, sizeof line, "%s replaced (kept from an earlier run)", what);
  step(line, replace((char *)replaceRequest, NULL));
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
  char what[40];
  BLANK(req);
  PUT(req.context, kProject);
  PUT(req.addr.nickname, nick);
  PUT(req.addr.lastname, last);
  PUT(req.addr.company, company);
  PUT(req.addr.city, city);
  PUT(req.addr.mailboxid, nick);
  snprintf(what, sizeof what, "address %s", nick);
  addOrReplace(what, QlmAddAddr, &req, QlmReplaceAddr, &req);
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
  addOrReplace("distribution list pioneers", QlmAddDistList, &dl, QlmReplaceDistList, &dl);

  BLANK(tp);
  PUT(tp.context, kProject);
  PUT(tp.tradprof.name, "partners");
  addOrReplace("trading profile partners", QlmAddTradProf, &tp, QlmReplaceTradProf, &tp);

  BLANK(asg);
  PUT(asg.context, kProject);
  PUT(asg.container, "pioneers");
  PUT(asg.member, "ada");
  assignOnce("ada is on the list pioneers", QlmAsgAddrToDistList((char *)&asg));
  PUT(asg.member, "grace");
  assignOnce("grace is on the list pioneers", QlmAsgAddrToDistList((char *)&asg));
  PUT(asg.container, "partners");
  PUT(asg.member, "pioneers");
  assignOnce("pioneers is on the trading profile partners", QlmAsgDistListToTradProf((char *)&asg));

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

/* Prints the entries of a mixed order list: type character, name, description. */
static void showOrders(const char *area, uint16_t count) {
  uint16_t i;
  size_t at = 0;
  for (i = 0; i < count; i++) {
    const QlmSendOrdr *o = &((const QlmSendOrdrEntry *)(area + at))->sendordr; /* name and description lie alike in both kinds */
    printf("          %c  %-12.*s%.*s\n", area[at], trimmed(o->name, (int)sizeof o->name), o->name,
           trimmed(o->description, (int)sizeof o->description), o->description);
    at += QlmSizeOfOrdr(area[at]);
  }
}

static void addOrReplaceSendOrder(const char *name, const char *description, const char *mailbox,
                                  const char *file) {
  QlmSendOrdrReq req;
  QlmSendOrdrReplaceReq rep;
  char what[40];
  BLANK(req);
  PUT(req.context, kProject);
  PUT(req.sendordr.name, name);
  PUT(req.sendordr.description, description);
  PUT(req.sendordr.mailboxid, mailbox);
  PUT(req.sendordr.field781, file);
  BLANK(rep);
  PUT(rep.context, kProject);
  PUT(rep.name, name);
  PUT(rep.description, description);
  PUT(rep.mailboxid, mailbox);
  PUT(rep.field781, file);
  snprintf(what, sizeof what, "send order %s", name);
  addOrReplace(what, QlmAddSendOrdr, &req, QlmReplaceSendOrdr, &rep);
}

static void addOrReplaceRecvOrder(const char *name, const char *description, const char *fileid) {
  QlmRecvOrdrReq req;
  QlmRecvOrdrReplaceReq rep;
  char what[40];
  BLANK(req);
  PUT(req.context, kProject);
  PUT(req.recvordr.name, name);
  PUT(req.recvordr.description, description);
  PUT(req.recvordr.fileid, fileid);
  BLANK(rep);
  PUT(rep.context, kProject);
  PUT(rep.name, name);
  PUT(rep.description, description);
  PUT(rep.fileid, fileid);
  snprintf(what, sizeof what, "receive order %s", name);
  addOrReplace(what, QlmAddRecvOrdr, &req, QlmReplaceRecvOrdr, &rep);
}

/* Assigns an order to a drop box; one assigned by an earlier run stays. */
static void assignOrder(QlmRc (*assign)(char *), const char *box, const char *order) {
  QlmAssignReq a;
  QlmRc rc;
  char what[80];
  BLANK(a);
  PUT(a.context, kProject);
  PUT(a.container, box);
  PUT(a.member, order);
  rc = assign((char *)&a);
  snprintf(what, sizeof what, "order %s assigned to the drop box %s", order, box);
  if (rc != 0 && QlmErrorExplanation(NULL) == 30010) printf("  ok    %s (by an earlier run)\n", what);
  else step(what, rc);
}

static void mailboxDay(void) {
  QlmContextName c;
  QlmDropBoxReq box;
  QlmDropBox boxes[10];
  QlmListQual q;
  QlmSmallListQual sq;
  QlmSendRcptReq sr;
  QlmRecvRcptReq rr;
  char orders[10 * sizeof(QlmSendOrdrEntry)];
  char receipts[10 * sizeof(QlmRecvRcptEntry)];
  uint16_t count = 0, i;
  size_t at;

  context(&c);
  step("mailbox opened", QlmOpenMbox((char *)&c));
  addOrReplaceSendOrder("payroll", "Salaries to the post room", "POSTROOM", "payroll.txt");
  addOrReplaceRecvOrder("statements", "Whatever waits for the daybook", "statements");

  /* The drop box runs its orders in a session of the logon "daybook". */
  BLANK(box);
  PUT(box.context, kProject);
  PUT(box.name, "evening");
  PUT(box.field654, "daybook");
  PUT(box.field668, "secret");
  addOrReplace("drop box evening", QlmAddDropBox, &box, QlmReplaceDropBox, &box);
  assignOrder(QlmAsgSendOrdrToDropBox, "evening", "payroll");
  assignOrder(QlmAsgRecvOrdrToDropBox, "evening", "statements");

  BLANK(q);
  PUT(q.context, kProject);
  PUT(q.sortfield, "name");
  PUT(q.startentry, "1");
  PUT(q.numentries, "10");
  BLANK(boxes);
  if (step("drop boxes (the Request Manager counts their orders):", QlmListDropBox((char *)&q, &count, (char *)boxes)))
    for (i = 0; i < count; i++) {
      show("          ", boxes[i].name, (int)sizeof boxes[i].name);
      show("  ", boxes[i].field672, (int)sizeof boxes[i].field672);
      printf("\n");
    }
  BLANK(sq);
  PUT(sq.context, kProject);
  PUT(sq.startentry, "1");
  PUT(sq.numentries, "10");
  QlmResetMem(orders, (int)sizeof orders);
  if (step("orders on the order shelf (S send, R receive):", QlmListOrdrsOnOrdrShlf((char *)&q, &count, orders)))
    showOrders(orders, count);

  /* Receipts are never replaced one by one: start from an empty receipt shelf. */
  step("receipt shelf emptied (receipts are added afresh each run)", QlmDeleteRcptShlf((char *)&c));
  BLANK(sr);
  PUT(sr.context, kProject);
  PUT(sr.sendrcpt.name, "payroll-1");
  PUT(sr.sendrcpt.ordername, "payroll");
  PUT(sr.sendrcpt.mailboxid, "BANK01");
  step("send receipt payroll-1 added", QlmAddSendRcpt((char *)&sr, NULL));
  BLANK(rr);
  PUT(rr.context, kProject);
  PUT(rr.recvrcpt.name, "statements-1");
  PUT(rr.recvrcpt.ordername, "statements");
  PUT(rr.recvrcpt.fileid, "/data/in/statements/001");
  step("receive receipt statements-1 added", QlmAddRecvRcpt((char *)&rr, NULL));

  QlmResetMem(receipts, (int)sizeof receipts);
  if (step("receipts on the receipt shelf (S send, R receive):", QlmListRcptsOnRcptShlf((char *)&sq, &count, receipts)))
    for (i = 0, at = 0; i < count; i++) {
      const char *e = receipts + at;
      const char *name = e + 1, *order, *start; /* the name leads both kinds */
      if (e[0] == 'S') {
        order = ((const QlmSendRcptEntry *)e)->sendrcpt.ordername;
        start = ((const QlmSendRcptEntry *)e)->sendrcpt.startdate;
      } else {
        order = ((const QlmRecvRcptEntry *)e)->recvrcpt.ordername;
        start = ((const QlmRecvRcptEntry *)e)->recvrcpt.startdate;
      }
      /* The Request Manager gave each the time of its add, YYYYMMDDhhmmss. */
      printf("          %c  %-14.*sorder %-12.*sadded %.4s-%.2s-%.2s %.2s:%.2s\n", e[0], trimmed(name, 20), name,
             trimmed(order, 20), order, start, start + 4, start + 6, start + 8, start + 10);
      at += QlmSizeOfRcpt(e[0]);
    }
  step("mailbox closed", QlmCloseMbox((char *)&c));
}


/* ------------------------------------------------------------------------- */
/* The network                                                               */

/* A file of the exchange directory, where relative file names of sends and
 * receives point: "<data home>/exchange/<name>". The data home is the root of an
 * installation of one's own (as the demo's), or QLM_DATA_HOME when set. */
static void exchangePath(char *path, size_t size, const char *name) {
  const char *home = getenv("QLM_DATA_HOME");
  const char *root = home != NULL && *home != '\0' ? home : getenv("QLM_ROOTDIR");
  snprintf(path, size, "%s/exchange/%s", root ? root : ".", name);
}

static void writeExchangeFile(const char *name, const char *text) {
  char path[256];
  FILE *f;
  exchangePath(path, sizeof path, name);
  if ((f = fopen(path, "w")) != NULL) {
    fputs(text, f);
    fclose(f);
  }
}

/* The network logon of a project: the mailbox it reads and its password. */
static void keepLogon(const char *project, const char *logon, const char *mailbox, const char *password) {
  QlmVnLogonReq l;
  char what[64];
  BLANK(l);
  PUT(l.context, project);
  PUT(l.logonid, logon);
  PUT(l.mailboxid, mailbox);
  PUT(l.field474, password);
  snprintf(what, sizeof what, "logon %s of %s (mailbox %s)", logon, project, mailbox);
  addOrReplace(what, QlmAddVnLogon, &l, QlmReplaceVnLogon, &l);
}

static void openPostroom(void) {
  QlmProjOpen open;
  QlmProj proj;
  QlmContextName c;
  BLANK(open);
  PUT(open.context, kPostroom);
  if (QlmOpenProj((char *)&open, NULL) == 0) {
    printf("  ok    project %s opened\n", kPostroom);
  } else {
    BLANK(proj);
    PUT(proj.projname, kPostroom);
    PUT(proj.field454, "The post room: it receives what the daybook sends");
    step("project Postroom added (and opened)", QlmAddProj((char *)&proj, NULL));
  }
  BLANK(c);
  PUT(c.context, kPostroom);
  step("Postroom: mailbox opened", QlmOpenMbox((char *)&c));
  step("Postroom: message system opened", QlmOpenMsys((char *)&c));
}

/* Starts a session on a project's logon; fills the session receipt's name. */
static int startSession(const char *project, const char *logon, const char *password, char name[20]) {
  QlmSessStartReq s;
  QlmSessStarted started;
  char what[80];
  BLANK(s);
  PUT(s.context, project);
  PUT(s.field1115, logon);
  PUT(s.field668, password);
  BLANK(started);
  snprintf(what, sizeof what, "%s: session started on logon %s", project, logon);
  if (!step(what, QlmStartSess((char *)&s, (char *)&started))) return 0;
  memcpy(name, started.name, 20);
  show("          session receipt ", started.name, (int)sizeof started.name);
  show(", status ", started.status, (int)sizeof started.status);
  printf("\n");
  return 1;
}

static void sendFile(const char *project, const char *file, const char *to, const char *cls, const char *subject) {
  QlmSendOrdrDoReq r;
  QlmSendOrdrDone done;
  char what[80];
  BLANK(r);
  PUT(r.context, project);
  PUT(r.mailboxid, to);
  PUT(r.class_, cls);
  PUT(r.field781, file);
  PUT(r.field790, subject);
  BLANK(done);
  snprintf(what, sizeof what, "%s: %s sent to %s", project, file, to);
  if (step(what, QlmDoSendOrdr((char *)&r, (char *)&done))) {
    show("          receipt ", done.name, (int)sizeof done.name);
    show(" ", done.field1803, (int)sizeof done.field1803);
    show(", message id ", done.field8022, 16);
    printf("\n");
  }
}

static void endSession(const char *project) {
  QlmSessEndReq e;
  QlmSessResult r;
  char what[64];
  BLANK(e);
  PUT(e.context, project);
  BLANK(r);
  snprintf(what, sizeof what, "%s: session ended", project);
  if (step(what, QlmEndSess((char *)&e, (char *)&r)))
    printf("          %.*s %.*s: %.5s sent, %.5s received, %.5s purged, %.5s failed\n", trimmed(r.name, 20), r.name,
           trimmed(r.status, 5), r.status, r.field285, r.field286, r.field287, r.field288);
}

/* The receipts an operation of the session made, listed on its session receipt. */
static void receiptsOfSession(const char *project, const char name[20]) {
  QlmSmallListQual q;
  char area[10 * sizeof(QlmRecvRcptEntry)];
  char receipt[20];
  uint16_t count = 0, i;
  size_t at;
  BLANK(q);
  PUT(q.context, project);
  PUT(q.startentry, "1");
  PUT(q.numentries, "10");
  memcpy(receipt, name, 20);
  QlmResetMem(area, (int)sizeof area);
  if (!step("receipts of the session:", QlmListRcptsOnSessRcpt(receipt, (char *)&q, &count, area))) return;
  for (i = 0, at = 0; i < count; i++) {
    const char *e = area + at;
    const char *status = e[0] == 'S' ? ((const QlmSendRcptEntry *)e)->sendrcpt.field1803
                                     : ((const QlmRecvRcptEntry *)e)->recvrcpt.field722;
    printf("          %c  %-14.*s%.5s\n", e[0], trimmed(e + 1, 20), e + 1, status);
    at += QlmSizeOfRcpt(e[0]);
  }
}

static void networkDay(void) {
  QlmContextName c;
  QlmSmallListQual q;
  QlmQuryOrdrEntry waiting[20];
  QlmRecvOrdrDoReq r;
  QlmRecvOrdrDone got;
  QlmPurgOrdrReq p;
  QlmPurgOrdrDone purged;
  QlmDropBoxProcReq proc;
  QlmSessResult result;
  char daybookSession[20], postroomSession[20], inbox[256];
  uint16_t count = 0, i;

  context(&c);
  keepLogon(kProject, "daybook", "DAYBOOK", "secret");
  openPostroom();
  keepLogon(kPostroom, "postroom", "POSTROOM", "");
  writeExchangeFile("letter.txt", "Dear post room,\nthe daybook says hello.\n");
  writeExchangeFile("notes.txt", "Notes nobody needs.\n");
  writeExchangeFile("payroll.txt", "Salaries of the month.\n");
  writeExchangeFile("reply.txt", "Dear daybook,\nthe letter arrived.\n");
  exchangePath(inbox, sizeof inbox, "inbox");
  makeDir(inbox);
  exchangePath(inbox, sizeof inbox, "statements");
  makeDir(inbox);

  step("Daybook: mailbox opened again (receipts are listed from it)", QlmOpenMbox((char *)&c));
  step("Daybook: message system opened", QlmOpenMsys((char *)&c));
  if (!startSession(kProject, "daybook", "secret", daybookSession)) return;
  sendFile(kProject, "letter.txt", "POSTROOM", "LETTER", "Hello from the daybook");
  sendFile(kProject, "notes.txt", "POSTROOM", "NOTES", "Nothing important");
  endSession(kProject);
  receiptsOfSession(kProject, daybookSession);

  if (!startSession(kPostroom, "postroom", "", postroomSession)) return;
  BLANK(q);
  PUT(q.context, kPostroom);
  PUT(q.startentry, "1");
  PUT(q.numentries, "20");
  BLANK(waiting);
  if (step("Postroom: messages waiting:", QlmDoQuryOrdr((char *)&q, &count, (char *)waiting)))
    for (i = 0; i < count; i++)
      printf("          %.16s from %-10.*s %-7.*s %5.*s bytes  %.*s\n", waiting[i].field2576,
             trimmed(waiting[i].field2570, 16), waiting[i].field2570, trimmed(waiting[i].field2577, 8),
             waiting[i].field2577, trimmed(waiting[i].field2584, 9), waiting[i].field2584,
             trimmed(waiting[i].field2591, 79), waiting[i].field2591);
  BLANK(r);
  PUT(r.context, kPostroom);
  PUT(r.class_, "LETTER");
  PUT(r.fileid, "inbox");
  BLANK(got);
  if (step("Postroom: the letters received into exchange/inbox", QlmDoRecvOrdr((char *)&r, (char *)&got)))
    printf("          receipt %.*s %.5s: %.*s\n", trimmed(got.name, 20), got.name, got.field722,
           trimmed(got.field8022, 40), got.field8022);
  BLANK(p);
  PUT(p.context, kPostroom);
  PUT(p.field2612, "*");
  BLANK(purged);
  if (step("Postroom: the rest purged", QlmDoPurgOrdr((char *)&p, (char *)&purged)))
    printf("          %.*s message(s) purged\n", trimmed(purged.field2614, 10), purged.field2614);
  sendFile(kPostroom, "reply.txt", "DAYBOOK", "REPLY", "The letter arrived");
  endSession(kPostroom);
  receiptsOfSession(kPostroom, postroomSession);

  /* The drop box "evening" of the mailbox day: its own session sends the payroll
   * to the post room, then receives whatever waits for the daybook (the reply)
   * into exchange/statements. Its result holds the counters up to received. */
  BLANK(proc);
  PUT(proc.context, kProject);
  PUT(proc.field1150, "evening");
  BLANK(result);
  if (step("Daybook: drop box evening processed", QlmProcDropBox((char *)&proc, (char *)&result)))
    printf("          session %.*s of %.*s %.*s: %.5s sent, %.5s received\n", trimmed(result.name, 20), result.name,
           trimmed(result.dropboxname, 20), result.dropboxname, trimmed(result.status, 5), result.status,
           result.field285, result.field286);
  step("Daybook: message system closed", QlmCloseMsys((char *)&c));
  step("Daybook: mailbox closed", QlmCloseMbox((char *)&c));
  BLANK(c);
  PUT(c.context, kPostroom);
  step("Postroom: message system closed", QlmCloseMsys((char *)&c));
  step("Postroom: mailbox closed", QlmCloseMbox((char *)&c));
  step("Postroom: project closed", QlmCloseProj((char *)&c));
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
  if (!step("interface opened (Request Manager started)", QlmOpenCInterface())) {
    printf("\nThe interface did not open. QLM_ROOTDIR must name the installation root (at most\n"
           "39 characters) that holds bin/qlmrqmgr and shared/errortxt.fil.\n");
    return 1;
  }
  openOrAddProject();
  context(&c);

  printf("\nAddress book\n");
  addressBookDay();

  printf("\nMailbox\n");
  mailboxDay();

  printf("\nThe network\n");
  networkDay();

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
