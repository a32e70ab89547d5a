// Building the packed structured dtypes of the record tables from a field list.
#pragma once

#include <span>

#include "python/refs.hpp"

namespace walkmesh {

struct DtypeField {
    const char* name;
    OwnedRef (*descriptor)();  // a fresh descriptor for the field, new reference
};

// A packed structured dtype: the fields back to back in order, no alignment padding.
OwnedRef build_record_dtype(std::span<const DtypeField> fields);

// Fresh scalar descriptors of the record fields.
OwnedRef float32_descriptor();
OwnedRef unsigned32_descriptor();

}  // namespace walkmesh
