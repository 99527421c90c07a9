/* The public header as a C99 program sees it (its record widths and offsets are
 * pinned by the header's own static assertions), the record tools and entry sizes,
 * linked against the shared library. Prints every failed check; exits 0 when all
 * pass. */
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

  /* QlmReplaceField: ends at a zero byte, cuts at the width, drops trailing blanks,
   * and writes nothing beyond the width. */
  memset(field, 'x', sizeof field);
  QlmReplaceField(field, (int)sizeof field - 2, "ab\0cdefgh");
  CHECK(holds(field, sizeof field - 2, "ab") && field[8] == 'x' && field[9] == 'x');
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
  QlmResetMem(field, 3); /* blanks its width alone */
  CHECK(memcmp(field, "   DE", 5) == 0);
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

static void nothingToExplain(void) {
  QlmErrText text;

  /* Nothing has failed yet: nothing to explain, and the record is not touched. */
  memset(&text, 'z', sizeof text);
  CHECK(QlmErrorExplanation((char *)&text) == 0);
  CHECK(text.errornumber[0] == 'z' && text.errorresponse[499] == 'z');
  CHECK(QlmErrorExplanation(NULL) == 0);
}

int main(void) {
  recordTools();
  entrySizes();
  nothingToExplain();
  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("all checks passed\n");
  return 0;
}
