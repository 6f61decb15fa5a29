#include "db/jet/format.h"

namespace brenvo::jet {
namespace {

constexpr JetFormat kJet3{
    .name = "V1997 [VERSION_3]",
    .version = 0,
    .pageSize = 2048,
    .headerMaskLength = 126,
    .passwordLength = 20,
    .unicode = false,
    .sortOrderOffset = 0x3A,
    .dataRowCount = 8,
    .dataSlots = 10,
    .rowCountBytes = 1,
    .tdef = {.rowCount = 12,
             .autoNumber = 16,
             .tableType = 20,
             .maxColumns = 21,
             .varColumns = 23,
             .columns = 25,
             .logicalIndexes = 27,
             .realIndexes = 31,
             .ownedPages = 35,
             .freePages = 39,
             .realIndexStart = 43,
             .realIndexEntry = 8,
             .realIndexRows = 4,
             .columnEntry = 18,
             .colNumber = 1,
             .colVarIndex = 3,
             .colSortLcid = 9,
             .colPrecision = 11,
             .colScale = 12,
             .colCodePage = 11,
             .colFlags = 13,
             .colFlags2 = kNoField,
             .colFixedOffset = 14,
             .colLength = 16,
             .nameLengthBytes = 1,
             .realIndexDef = 39,
             .idxColumns = 0,
             .idxUsageMap = 30,
             .idxFirstPage = 34,
             .idxFlags = 38,
             .logicalIndexDef = 20,
             .lidxNumber = 0,
             .lidxReal = 4,
             .lidxKind = 19},
    .index = {.prev = 8, .next = 12, .tail = 16, .prefixLength = 20, .bitmap = 0x16, .entries = 0xF8},
};

constexpr JetFormat kJet4{
    .name = "V2000 [VERSION_4]",
    .version = 1,
    .pageSize = 4096,
    .headerMaskLength = 128,
    .passwordLength = 40,
    .unicode = true,
    .sortOrderOffset = 0x6E,
    .dataRowCount = 12,
    .dataSlots = 14,
    .rowCountBytes = 2,
    .tdef = {.rowCount = 16,
             .autoNumber = 20,
             .tableType = 40,
             .maxColumns = 41,
             .varColumns = 43,
             .columns = 45,
             .logicalIndexes = 47,
             .realIndexes = 51,
             .ownedPages = 55,
             .freePages = 59,
             .realIndexStart = 63,
             .realIndexEntry = 12,
             .realIndexRows = 4,
             .columnEntry = 25,
             .colNumber = 5,
             .colVarIndex = 7,
             .colSortLcid = 11,
             .colPrecision = 11,
             .colScale = 12,
             .colCodePage = 13,
             .colFlags = 15,
             .colFlags2 = 16,
             .colFixedOffset = 21,
             .colLength = 23,
             .nameLengthBytes = 2,
             .realIndexDef = 52,
             .idxColumns = 4,
             .idxUsageMap = 34,
             .idxFirstPage = 38,
             .idxFlags = 46,
             .logicalIndexDef = 28,
             .lidxNumber = 4,
             .lidxReal = 8,
             .lidxKind = 23},
    .index = {.prev = 12, .next = 16, .tail = 20, .prefixLength = 24, .bitmap = 0x1B, .entries = 0x1E0},
};

}  // namespace

const JetFormat& Jet3Format() { return kJet3; }
const JetFormat& Jet4Format() { return kJet4; }

const JetFormat* FormatOfVersion(uint32_t version) {
  if (version == kJet3.version) return &kJet3;
  if (version == kJet4.version) return &kJet4;
  return nullptr;
}

const JetFormat& FormatOfPageSize(size_t pageSize) { return pageSize == kJet3.pageSize ? kJet3 : kJet4; }

}  // namespace brenvo::jet
