/* The public header as a C99 program sees it: record widths and offsets, the
 * record tools, entry sizes and the error numbers, linked against the shared
 * library. Prints every failed check; exits 0 when all pass. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "qlmc32.h"

static int failures = 0;

#define CHECK(cond)                                                \
  do {                                                             \
    if (!(cond)) {                                                 \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                  \
    }                                                              \
  } while (0)

/* The field holds exactly `text` followed by blanks up to `width`. */
static int holds(const char *field, size_t width, const char *text) {
  size_t n = strlen(text), i;
  if (n > width || memcmp(field, text, n) != 0) return 0;
  for (i = n; i < width; ++i)
    if (field[i] != ' ') return 0;
  return 1;
}

static int allBlank(const char *area, size_t width) { return holds(area, width, ""); }

static void recordWidthsAndOffsets(void) {
  QlmDropBox boxes[3];

  CHECK(sizeof(QlmErrText) == 1085);
  CHECK(sizeof(QlmRetrievedErrText) == 2005 + QLM_RETRIEVED_KEY_WIDTH);
  CHECK(sizeof(QlmListQual) == 108 && offsetof(QlmListQual, startentry) == 98);
  CHECK(sizeof(QlmSmallListQual) == 30 && offsetof(QlmSmallListQual, numentries) == 25);
  CHECK(sizeof(QlmAddrReq) == 405 && offsetof(QlmAddrReq, addr.mailboxid) == 20 + 233);
  CHECK(sizeof(QlmProjInfo) == 199 && offsetof(QlmProjInfo, field464) == 198);
  CHECK(offsetof(QlmVnLogon, field475) == 26 && offsetof(QlmVnLogon, field476) == 27);
  CHECK(offsetof(QlmVnLogonReq, field476) == 62);
  CHECK(offsetof(QlmSendOrdrReplaceReq, description) == 342);
  CHECK(offsetof(QlmSendOrdrReq, sendordr.description) == 40);
  CHECK(offsetof(QlmRecvOrdrReplaceReq, fileid) == 40 && offsetof(QlmRecvOrdrReplaceReq, field695) == 345);
  CHECK(offsetof(QlmRecvOrdr, fileid) == 175 && offsetof(QlmRecvOrdr, field695) == 146);
  CHECK(offsetof(QlmSendRcpt, field9969) == 220 && offsetof(QlmRecvRcpt, field754) == 461);
  CHECK(offsetof(QlmSessRcpt, status) == 0 && offsetof(QlmSessRcpt, name) == 5);
  CHECK(offsetof(QlmSessResult, status) == 90 && offsetof(QlmSessRcptRecovered, field1173) == 90);
  CHECK(sizeof(QlmQuryOrdrEntry) == 421 && offsetof(QlmQuryOrdrEntry, field2601) == 420);
  CHECK(sizeof(QlmDropBoxReq) == 89 && offsetof(QlmDropBoxReq, field658) == 56);

  /* List arrays are records back to back: drop box entry 2 starts at byte 182. */
  CHECK((size_t)((char *)&boxes[2] - (char *)&boxes[0]) == 182);
}

static void recordTools(void) {
  QlmAddrReq req;
  char field[10];

  /* A request prepared the documented way: blank it, then fill fields. */
  memset(&req, 'x', sizeof req);
  QlmResetMem((char *)&req, (int)sizeof req);
  CHECK(allBlank((const char *)&req, sizeof req));
  QlmAddField(req.context, "PROJECT1");
  QlmReplaceField(req.addr.nickname, (int)sizeof req.addr.nickname, "BOB");
  QlmReplaceField(req.addr.zip, (int)sizeof req.addr.zip, "12345");
  CHECK(holds(req.context, sizeof req.context, "PROJECT1"));
  CHECK(holds(req.addr.nickname, sizeof req.addr.nickname, "BOB"));
  CHECK(holds(req.addr.zip, sizeof req.addr.zip, "12345"));
  CHECK(allBlank(req.addr.field106, (size_t)(offsetof(QlmAddr, zip) - offsetof(QlmAddr, field106))));
  CHECK(allBlank(req.addr.mailboxid, sizeof req.addr - offsetof(QlmAddr, mailboxid)));

  /* QlmReplaceField: ends at a zero byte, cuts at the width, drops trailing blanks. */
  QlmReplaceField(field, (int)sizeof field, "ab\0cdefgh");
  CHECK(holds(field, sizeof field, "ab"));
  QlmReplaceField(field, (int)sizeof field, "abcdefgh  xy");
  CHECK(holds(field, sizeof field, "abcdefgh"));
  QlmReplaceField(field, (int)sizeof field, NULL);
  CHECK(allBlank(field, sizeof field));

  /* QlmAddField writes over the start and keeps the rest. */
  memcpy(field, "ABCDE", 5);
  QlmAddField(field, "xy");
  CHECK(memcmp(field, "xyCDE", 5) == 0);
  QlmAddField(field, "");
  QlmAddField(field, NULL);
  CHECK(memcmp(field, "xyCDE", 5) == 0);
}

static void entrySizes(void) {
  /* A mixed order list of a send, a receive and a send order, walked by type. */
  static char area[500 + 348 + 500];
  size_t at = 0;
  int entries = 0;

  CHECK(QlmSizeOfOrdr('S') == sizeof(QlmSendOrdrEntry) && QlmSizeOfOrdr('S') == 500);
  CHECK(QlmSizeOfOrdr('R') == sizeof(QlmRecvOrdrEntry) && QlmSizeOfOrdr('R') == 348);
  CHECK(QlmSizeOfRcpt('S') == sizeof(QlmSendRcptEntry) && QlmSizeOfRcpt('S') == 317);
  CHECK(QlmSizeOfRcpt('R') == sizeof(QlmRecvRcptEntry) && QlmSizeOfRcpt('R') == 725);
  CHECK(QlmSizeOfOrdr('r') == QLM_SIZE_UNKNOWN && QlmSizeOfOrdr('s') == QLM_SIZE_UNKNOWN);
  CHECK(QlmSizeOfRcpt(' ') == QLM_SIZE_UNKNOWN && QlmSizeOfRcpt('\0') == QLM_SIZE_UNKNOWN);

  QlmResetMem(area, (int)sizeof area);
  area[0] = 'S';
  area[500] = 'R';
  area[848] = 'S';
  while (at < sizeof area) {
    QlmRc size = QlmSizeOfOrdr(area[at]);
    if (size == QLM_SIZE_UNKNOWN) break;
    at += size;
    ++entries;
  }
  CHECK(entries == 3 && at == sizeof area);
}

static void errorNumbers(void) {
#define ERROR_ENTRY(name, number) {#name, number},
  static const struct {
    const char *name;
    int number;
  } errors[] = {QLM_ERRORS(ERROR_ENTRY)};
#undef ERROR_ENTRY
  size_t i, n = sizeof errors / sizeof errors[0];
  QlmErrText text;

  CHECK(n == 24);
  for (i = 1; i < n; ++i) CHECK(errors[i - 1].number < errors[i].number);
  CHECK(QLM_ERR_NO_ROOTDIR == 278 && QLM_ERR_MALFORMED == 20010);
  CHECK(QLM_ERR_BLANK_CONTEXT == 20130 && QLM_ERR_MSYS_NOT_OPEN == 20230);
  CHECK(QLM_ERR_NO_ERROR_FILE == 28000);
  CHECK(strcmp(errors[n - 1].name, "QLM_ERR_NO_ERROR_FILE") == 0);
  CHECK(QLM_RC_OK == 0 && QLM_RC_RM_NO_ERRSEG == 1 && QLM_RC_WARNING == 4);
  CHECK(QLM_RC_REFUSED == 8 && QLM_RC_FAILED == 12);
  CHECK(QLM_RC_RM_REFUSED == 16 && QLM_RC_RM_FAILED == 20);

  /* Nothing has failed yet: nothing to explain, and the record is not touched. */
  memset(&text, 'z', sizeof text);
  CHECK(QlmErrorExplanation((char *)&text) == 0);
  CHECK(text.errornumber[0] == 'z' && text.errorresponse[499] == 'z');
  CHECK(QlmErrorExplanation(NULL) == 0);
}

int main(void) {
  recordWidthsAndOffsets();
  recordTools();
  entrySizes();
  errorNumbers();
  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("all checks passed\n");
  return 0;
}
