// The shared array-borrow registry: its lookup on the multiarray module, and the
// registry this module installs when there is none (borrow keys, base addresses,
// the conflict rule and the four operations that other modules call).
#include "python/borrow_registry.hpp"

#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <unordered_map>

#include "python/error_state.hpp"
#include "python/once_cell.hpp"
#include "python/array_api.hpp"

namespace walkmesh::numpy {
namespace {

constexpr const char* kCapsuleName = "_RUST_NUMPY_BORROW_CHECKING_API";
constexpr std::uint64_t kVersion = 1;

// What one borrow covers: the byte range the array's elements span, its data
// pointer and the greatest common divisor of its strides. All of it is computed in
// unsigned, wrapping arithmetic: shapes and strides come from the caller (an
// as_strided view may claim a reach beyond the address space) and must not overflow.
struct BorrowKey {
    std::uintptr_t range_start;
    std::uintptr_t range_end;
    std::uintptr_t data;
    std::uintptr_t stride_divisor;

    bool operator==(const BorrowKey&) const = default;

    // Both can reach a common byte: the ranges overlap and the data pointers lie on a
    // common stride lattice.
    bool conflicts_with(const BorrowKey& other) const noexcept {
        if (range_start >= other.range_end || other.range_start >= range_end) {
            return false;
        }
        const std::uintptr_t distance = data >= other.data ? data - other.data : other.data - data;
        const std::uintptr_t divisor = std::gcd(stride_divisor, other.stride_divisor);
        // Only all-zero strides give 0: such views reach one element each.
        return divisor == 0 ? distance == 0 : distance % divisor == 0;
    }
};

struct BorrowKeyHash {
    std::size_t operator()(const BorrowKey& key) const noexcept {
        std::size_t hash = std::hash<std::uintptr_t>{}(key.range_start);
        for (std::uintptr_t part : {key.range_end, key.data, key.stride_divisor}) {
            hash = hash * 31 + std::hash<std::uintptr_t>{}(part);
        }
        return hash;
    }
};

std::uintptr_t magnitude(std::intptr_t value) noexcept {
    const auto bits = static_cast<std::uintptr_t>(value);
    return value < 0 ? std::uintptr_t{0} - bits : bits;
}

BorrowKey borrow_key(const char* data_pointer, int nd, const Py_ssize_t* dimensions, const Py_ssize_t* strides,
                     PyObject* descr) {
    const auto data = reinterpret_cast<std::uintptr_t>(data_pointer);
    BorrowKey key{data, data, data, nd == 0 ? 1u : 0u};
    bool empty = nd == 0;
    // Sums of the negative and of the non-negative reaches (length - 1) * stride.
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;
    for (int axis = 0; axis < nd; ++axis) {
        const std::intptr_t length = dimensions[axis];
        const std::intptr_t stride = strides[axis];
        empty = empty || length == 0;
        const std::uintptr_t reach = static_cast<std::uintptr_t>(length - 1) * static_cast<std::uintptr_t>(stride);
        (stride < 0 ? low : high) += reach;
        key.stride_divisor = std::gcd(key.stride_divisor, magnitude(stride));
    }
    if (!empty) {
        key.range_start = data + low;
        key.range_end = data + high + static_cast<std::uintptr_t>(element_size(descr));
    }
    return key;
}

BorrowKey borrow_key(PyObject* array) {
    const ArrayObject& fields = array_fields(array);
    return borrow_key(fields.data, fields.nd, fields.dimensions, fields.strides, fields.descr);
}

// The key of a one-dimensional array as it was laid out; the caller keeps the
// descriptor alive.
BorrowKey borrow_key(const ArrayLayout& layout) {
    return borrow_key(layout.data, 1, &layout.length, &layout.stride, const_cast<PyObject*>(layout.descr));
}

// The array that owns the memory: follow `base` through arrays; the last array when
// its base is empty, else the first base object that is not an array.
std::uintptr_t base_address(PyObject* array) {
    PyObject* current = array;
    while (PyObject* base = array_fields(current).base) {
        if (!is_array(base)) {
            return reinterpret_cast<std::uintptr_t>(base);
        }
        current = base;
    }
    return reinterpret_cast<std::uintptr_t>(current);
}

[[noreturn]] void zero_count_stored() { panic("borrow registry holds a zero borrow count", here()); }

// The registry this module installs: base address -> borrow key -> count, where a
// positive count is the number of read borrows and -1 marks one exclusive borrow.
class RegistryState {
public:
    int acquire_shared(PyObject* array) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uintptr_t base = base_address(array);
        const BorrowKey key = borrow_key(array);
        auto found = borrows_.find(base);
        if (found == borrows_.end()) {
            borrows_[base].emplace(key, 1);
            return 0;
        }
        Counts& counts = found->second;
        if (auto entry = counts.find(key); entry != counts.end()) {
            std::intptr_t& readers = entry->second;
            if (readers == 0) {
                zero_count_stored();
            }
            if (readers < 0 || readers == INTPTR_MAX) {
                return -1;
            }
            ++readers;
            return 0;
        }
        for (const auto& [other, count] : counts) {
            if (count < 0 && key.conflicts_with(other)) {
                return -1;
            }
        }
        counts.emplace(key, 1);
        return 0;
    }

    int acquire_exclusive(PyObject* array) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uintptr_t base = base_address(array);
        const BorrowKey key = borrow_key(array);
        Counts& counts = borrows_[base];
        if (auto entry = counts.find(key); entry != counts.end()) {
            if (entry->second == 0) {
                zero_count_stored();
            }
            return -1;
        }
        for (const auto& [other, count] : counts) {
            if (key.conflicts_with(other)) {
                return -1;
            }
        }
        counts.emplace(key, -1);
        return 0;
    }

    void release_shared(PyObject* array) {
        std::lock_guard<std::mutex> lock(mutex_);
        release_shared_key(base_address(array), borrow_key(array));
    }

    // A read borrow taken under `key`, whatever the array looks like now.
    void release_shared_as_taken(PyObject* array, const ArrayLayout& taken) {
        std::lock_guard<std::mutex> lock(mutex_);
        release_shared_key(base_address(array), borrow_key(taken));
    }

    void release_exclusive(PyObject* array) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uintptr_t base = base_address(array);
        auto [counts, entry] = held_entry(base, borrow_key(array));
        counts.erase(entry);
        drop_if_empty(base);
    }

private:
    using Counts = std::unordered_map<BorrowKey, std::intptr_t, BorrowKeyHash>;

    // Needs mutex_.
    void release_shared_key(std::uintptr_t base, const BorrowKey& key) {
        auto [counts, entry] = held_entry(base, key);
        if (--entry->second == 0) {
            counts.erase(entry);
            drop_if_empty(base);
        }
    }

    // Releasing a borrow that is not held is an internal failure.
    std::pair<Counts&, Counts::iterator> held_entry(std::uintptr_t base, const BorrowKey& key) {
        auto found = borrows_.find(base);
        if (found == borrows_.end()) {
            panic_unwrap_none(here());
        }
        auto entry = found->second.find(key);
        if (entry == found->second.end()) {
            panic_unwrap_none(here());
        }
        return {found->second, entry};
    }

    void drop_if_empty(std::uintptr_t base) {
        if (auto found = borrows_.find(base); found != borrows_.end() && found->second.empty()) {
            borrows_.erase(found);
        }
    }

    std::mutex mutex_;
    std::unordered_map<std::uintptr_t, Counts> borrows_;
};

RegistryState& state_of(void* state) { return *static_cast<RegistryState*>(state); }

// The operations other modules call through the record: C callbacks, so an internal
// failure inside one ends the process instead of unwinding into foreign frames.
int acquire_shared(void* state, PyObject* array) {
    return without_unwinding([&] { return state_of(state).acquire_shared(array); });
}
int acquire_exclusive(void* state, PyObject* array) {
    return without_unwinding([&] { return state_of(state).acquire_exclusive(array); });
}
void release_shared(void* state, PyObject* array) {
    without_unwinding([&] { state_of(state).release_shared(array); });
}
void release_exclusive(void* state, PyObject* array) {
    without_unwinding([&] { state_of(state).release_exclusive(array); });
}
void release_shared_as_taken(void* state, PyObject* array, const ArrayLayout* taken) {
    without_unwinding([&] { state_of(state).release_shared_as_taken(array, *taken); });
}

// The record and the state it points to, owned by the capsule that publishes them.
struct InstalledRegistry {
    RegistryState state;
    BorrowApi api{kVersion, &state, acquire_shared, acquire_exclusive, release_shared, release_exclusive};
    // Beyond the shared record, for the modules built from this code: the release of a
    // borrow under the key it was taken with. Run by the module that installed the
    // registry, so that only its own code (and allocator) ever changes its state.
    void (*release_shared_as_taken)(void* state, PyObject* array, const ArrayLayout* taken) =
        walkmesh::numpy::release_shared_as_taken;
};

void destroy_installed(PyObject* capsule) {
    without_unwinding([&] { delete static_cast<InstalledRegistry*>(PyCapsule_GetContext(capsule)); });
}

OwnedRef install_registry(PyObject* multiarray) {
    auto installed = std::make_unique<InstalledRegistry>();
    OwnedRef capsule = require(PyCapsule_New(&installed->api, kCapsuleName, destroy_installed));
    require_status(PyCapsule_SetContext(capsule.get(), installed.release()));
    require_status(PyObject_SetAttrString(multiarray, kCapsuleName, capsule.get()));
    return capsule;
}

// The registry record and the capsule that keeps it valid. The capsule's reference is
// held here for the rest of the process, where leak checkers can still see it.
struct FoundRegistry {
    PyObject* capsule;
    const BorrowApi* api;
    // When installed by this module or by another built from this same code (walkmesh
    // and its companion): the installation, else null.
    const InstalledRegistry* ours;
};

// The installation behind `capsule` when install_registry made it, in this module or
// in another built from this code: the capsule's context is the InstalledRegistry whose
// record and state the capsule's record points to. Only pointers are compared; nothing
// behind a foreign context is read.
const InstalledRegistry* installed_by_this_code(PyObject* capsule, const BorrowApi* api) {
    const auto* context = static_cast<const std::byte*>(PyCapsule_GetContext(capsule));
    if (context == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    // InstalledRegistry is not standard-layout (its state holds a mutex and a map);
    // GCC and Clang still give member offsets of classes without virtual bases.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    constexpr std::size_t api_offset = offsetof(InstalledRegistry, api);
    constexpr std::size_t state_offset = offsetof(InstalledRegistry, state);
#pragma GCC diagnostic pop
    const bool laid_out_so = reinterpret_cast<const std::byte*>(api) == context + api_offset &&
                             static_cast<const std::byte*>(api->state) == context + state_offset;
    return laid_out_so ? reinterpret_cast<const InstalledRegistry*>(context) : nullptr;
}

FoundRegistry find_or_install_registry() {
    // Borrow keys read the descriptor layout: settle it while the GIL is surely held.
    feature_version();
    OwnedRef multiarray = require(PyImport_ImportModule(multiarray_module_name()));
    OwnedRef capsule = OwnedRef::steal(PyObject_GetAttrString(multiarray.get(), kCapsuleName));
    if (!capsule) {
        PyErr_Clear();
        capsule = install_registry(multiarray.get());
    }
    const auto* api = static_cast<const BorrowApi*>(capsule_pointer(capsule.get(), kCapsuleName));
    std::uint64_t version = 0;
    std::memcpy(&version, api, sizeof version);
    if (version < 1) {
        throw_error(PyExc_TypeError, "Version " + std::to_string(version) +
                                         " of borrow checking API is not supported by this version of rust-numpy");
    }
    const InstalledRegistry* ours = installed_by_this_code(capsule.get(), api);
    return {capsule.release(), api, ours};
}

OnceCell<FoundRegistry> registry_cell;

const BorrowApi& registry() {
    if (const FoundRegistry* filled = registry_cell.get()) {
        return *filled->api;
    }
    try {
        return *registry_cell.get_or_fill(find_or_install_registry).api;
    } catch (PythonError& error) {
        panic("Interal borrow checking API error: " + error.state.render(), here());
    }
}

}  // namespace

const BorrowApi& registry_or_error() { return *registry_cell.get_or_fill(find_or_install_registry).api; }

bool acquire_read_borrow(PyObject* array) {
    const BorrowApi& api = registry();
    const int code = api.acquire_shared(api.state, array);
    if (code == 0 || code == -1) {
        return code == 0;
    }
    panic("Unexpected return code " + std::to_string(code) + " from borrow checking API", here());
}

void release_read_borrow(PyObject* array, const ArrayLayout& taken) noexcept {
    without_unwinding([&] {
        const BorrowApi& api = registry();
        const InstalledRegistry* ours = registry_cell.get()->ours;
        if (ours != nullptr && array_layout(array) != taken) {
            ours->release_shared_as_taken(api.state, array, &taken);
            return;
        }
        api.release_shared(api.state, array);
    });
}

}  // namespace walkmesh::numpy
