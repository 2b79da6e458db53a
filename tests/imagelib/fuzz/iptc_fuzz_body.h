// The IPTC parser and marker list on arbitrary bytes: shared by the libFuzzer target and by
// the gtest that replays random and mutated buffers under the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lxdefs.h"

// False when a property of the parse does not hold (a crash or a sanitizer report is the
// other way to fail).
inline bool IptcFuzzOne(const uint8_t* data, size_t size) {
    TLXIPTCInfoList list;
    list.LoadFromBuffer(data, int64_t(size));
    if (list.Changed()) return false;

    // Every dataset lies inside the input.
    uint64_t total = 0;
    unsigned sum = 0;
    for (int i = 0; i < list.Count(); i++) {
        const TLXIPTCItemHeader& h = list.ItemHeaders(i);
        if (h.Length < 0 || uint64_t(h.Length) > size) return false;
        if (h.RecordNumber < 0 || h.RecordNumber > 255 || h.DataSet < 0 || h.DataSet > 255)
            return false;
        total += uint64_t(h.Length) + 5;
        const uint8_t* p = list.ItemData(i);
        if (h.Length > 0 && !p) return false;
        for (int k = 0; k < h.Length; k++) sum += p[k];
    }
    if (total > size + 1) return false;

    // What we write we read back: the same datasets, without the record version 2:00.
    const std::vector<uint8_t> block = list.SaveToBuffer();
    if (block.size() % 2 != 0) return false;
    TLXIPTCInfoList again;
    again.LoadFromBuffer(block.data(), int64_t(block.size()));
    int j = 0;
    for (int i = 0; i < list.Count(); i++) {
        if (list.RecordNumber(i) == 2 && list.DataSet(i) == 0) continue;
        if (j >= again.Count()) return false;
        const TLXIPTCItemHeader& a = list.ItemHeaders(i);
        const TLXIPTCItemHeader& b = again.ItemHeaders(j);
        if (a.RecordNumber != b.RecordNumber || a.DataSet != b.DataSet || a.Length != b.Length)
            return false;
        if (a.Length > 0 && std::memcmp(list.ItemData(i), again.ItemData(j), size_t(a.Length)) != 0)
            return false;
        j++;
    }
    if (j != again.Count()) return false;

    // The marker list takes what fits a segment and refuses the rest.
    TLXMarkerList markers;
    const bool fits = size <= size_t(TLXMarkerList::MaxMarkerLength);
    if (markers.AddMarker(0xED, data, int64_t(size)) != fits) return false;
    if (fits) {
        if (markers.MarkerLength(0) != int(size)) return false;
        if (size > 0 && std::memcmp(markers.MarkerData(0), data, size) != 0) return false;
        TLXIPTCInfoList fromMarker;
        fromMarker.LoadFromBuffer(markers.MarkerData(0), markers.MarkerLength(0));
        if (fromMarker.Count() != list.Count()) return false;
    }
    volatile unsigned sink = sum;   // every data byte was read
    (void)sink;
    return true;
}
