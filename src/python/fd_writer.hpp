// A buffered writer onto a file descriptor that never allocates. Failure reports and
// fatal messages are composed in its 512-byte buffer, so a text that fits leaves in a
// single write call and a longer one in 512-byte pieces.
#pragma once

#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <unistd.h>

namespace walkmesh::detail {

class FdWriter {
public:
    static constexpr std::size_t capacity = 512;

    explicit FdWriter(int fd) noexcept : fd_(fd) {}
    FdWriter(const FdWriter&) = delete;
    FdWriter& operator=(const FdWriter&) = delete;
    ~FdWriter() { flush(); }

    FdWriter& text(std::string_view piece) noexcept {
        while (!piece.empty()) {
            if (used_ == capacity) {
                flush();
            }
            const std::size_t n = piece.size() < capacity - used_ ? piece.size() : capacity - used_;
            std::memcpy(buffer_.data() + used_, piece.data(), n);
            used_ += n;
            piece.remove_prefix(n);
        }
        return *this;
    }

    FdWriter& decimal(std::uint64_t value) noexcept { return number(value, 10); }

    FdWriter& hex(std::uint64_t value) noexcept {
        text("0x");
        return number(value, 16);
    }

    // Right-aligned in a field of `width` characters (wider numbers overflow it).
    FdWriter& decimal_padded(std::uint64_t value, std::size_t width) noexcept {
        std::array<char, 20> digits{};
        const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
        const auto length = static_cast<std::size_t>(end - digits.data());
        for (std::size_t i = length; i < width; ++i) {
            text(" ");
        }
        return text({digits.data(), length});
    }

    void flush() noexcept {
        // Reporting must not disturb the errno of the code that failed.
        const int saved_errno = errno;
        const char* data = buffer_.data();
        std::size_t left = used_;
        while (left > 0) {
            const ssize_t written = ::write(fd_, data, left);
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;
            }
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        used_ = 0;
        errno = saved_errno;
    }

private:
    FdWriter& number(std::uint64_t value, int base) noexcept {
        std::array<char, 20> digits{};
        const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value, base).ptr;
        return text({digits.data(), static_cast<std::size_t>(end - digits.data())});
    }

    int fd_;
    std::size_t used_ = 0;
    std::array<char, capacity> buffer_;
};

}  // namespace walkmesh::detail
