// The nested string tables that hold the texts of a loaded message catalogue.
//
// A catalogue keeps its texts in a table of tables of tables of tables of
// strings, indexed by the four numbers of a message key, so that a lookup is
// four direct index steps. Each level is a KvTab whose element is the level
// below; a KvTab's deep assignment and its destruction of its elements give
// the copying and freeing of whole trees.
//
// Inner tables are created empty with growth increment 0 and must be sized
// with Allocate before anything is stored in them; a key beyond the sizes has
// no place (null), which the catalogue turns into its fallback text.
#pragma once

#include "containers/cstring.h"
#include "containers/kv_tab.h"

// Texts of one (k1, k2, k3), indexed by k4.
using KvStringTab1 = KvTab<CString>;
// Tables of one (k1, k2), indexed by k3.
using KvStringTab2 = KvTab<KvStringTab1>;
// Tables of one k1, indexed by k2.
using KvStringTab3 = KvTab<KvStringTab2>;
// A whole catalogue, indexed by k1.
using KvStringTab4 = KvTab<KvStringTab3>;

// The place of the text (k1, k2, k3, k4), or null when the key has no place.
// Goes through GetAt at each level, so on a table that may grow (a copy) the
// lookup grows it like any other access.
inline CString* GetTextPlace(KvStringTab4& table, int k1, int k2, int k3, int k4) {
    KvStringTab3* level3 = table.GetAt(k1);
    KvStringTab2* level2 = level3 != nullptr ? level3->GetAt(k2) : nullptr;
    KvStringTab1* level1 = level2 != nullptr ? level2->GetAt(k3) : nullptr;
    return level1 != nullptr ? level1->GetAt(k4) : nullptr;
}

// The text (k1, k2, k3, k4) when it has a place, else null; changes nothing,
// so a catalogue can answer lookups through a const reference.
inline const CString* FindText(const KvStringTab4& table, int k1, int k2, int k3, int k4) {
    const KvStringTab3* level3 = table.PlaceAt(k1);
    const KvStringTab2* level2 = level3 != nullptr ? level3->PlaceAt(k2) : nullptr;
    const KvStringTab1* level1 = level2 != nullptr ? level2->PlaceAt(k3) : nullptr;
    return level1 != nullptr ? level1->PlaceAt(k4) : nullptr;
}
