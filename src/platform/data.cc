// Data objects: the blocks of data that pokes carry. See platform/windows.h.
#include <algorithm>
#include <cstring>

#include "platform/internal.h"

namespace qlm::platform {

namespace {
constexpr std::uint32_t kDataMagic = 0x44444544;  // "DEDD"
struct DataObject {
  std::uint32_t magic = kDataMagic;
  std::vector<BYTE> bytes;
  UINT fmt = 0;
};

DataObject *AsData(HDDEDATA h) {
  auto *d = reinterpret_cast<DataObject *>(h);
  return d != nullptr && d->magic == kDataMagic ? d : nullptr;
}
}  // namespace

HDDEDATA NewData(const BYTE *p, std::size_t n, UINT fmt) {
  auto *d = new DataObject;
  d->bytes.assign(p, p + n);
  d->fmt = fmt;
  return reinterpret_cast<HDDEDATA>(d);
}

void DeleteData(HDDEDATA h) {
  if (DataObject *d = AsData(h)) {
    d->magic = 0;
    delete d;
  }
}

const std::vector<BYTE> *DataBytes(HDDEDATA h) {
  const DataObject *d = AsData(h);
  return d != nullptr ? &d->bytes : nullptr;
}

}  // namespace qlm::platform

using namespace qlm::platform;

HDDEDATA DdeCreateDataHandle(DWORD idInst, LPBYTE pSrc, DWORD cb, DWORD cbOff, HSZ, UINT wFmt, UINT) {
  if (!qlm::platform::InstanceExists(idInst)) return nullptr;
  std::vector<BYTE> bytes(static_cast<std::size_t>(cbOff) + cb, 0);
  if (pSrc != nullptr && cb > 0) std::memcpy(bytes.data() + cbOff, pSrc, cb);
  return NewData(bytes.data(), bytes.size(), wFmt);
}

BOOL DdeFreeDataHandle(HDDEDATA hData) {
  if (AsData(hData) == nullptr) return FALSE;
  DeleteData(hData);
  return TRUE;
}

DWORD DdeGetData(HDDEDATA hData, LPBYTE pDst, DWORD cbMax, DWORD cbOff) {
  const DataObject *d = AsData(hData);
  if (d == nullptr) return 0;
  if (pDst == nullptr) return static_cast<DWORD>(d->bytes.size());
  if (cbOff >= d->bytes.size()) return 0;
  const std::size_t n = std::min<std::size_t>(cbMax, d->bytes.size() - cbOff);
  std::memcpy(pDst, d->bytes.data() + cbOff, n);
  return static_cast<DWORD>(n);
}
