#include "engine/compress_error.hpp"

#include <cstdio>

namespace mw {
namespace {

class CompressCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "compress"; }
    std::string message(int value) const override {
        switch (value) {
            case 3:
                return "invalid checksum";
            case 5:
                return "interrupted";
            case 6:
                return "bzip2 error";
            case 7:
                return "unexpected error";
            default:  // VerificationFailed deliberately has no wording of its own
                return "unknown error";
        }
    }
};

}  // namespace

const std::error_category& CompressCategory() {
    static const CompressCategoryImpl category;
    return category;
}

std::error_code make_error_code(CompressError e) {
    return {static_cast<int>(e), CompressCategory()};
}

std::string FailureCodeText(const std::error_code& code) {
    char text[32];
    const auto value = static_cast<unsigned>(code.value());
    if (code.category() == std::system_category()) {
        std::snprintf(text, sizeof text, "1:%08X", value);
    } else if (code.category() == std::generic_category()) {
        std::snprintf(text, sizeof text, "2:%08X", value);
    } else if (code.category() == CompressCategory()) {
        std::snprintf(text, sizeof text, "%d", code.value());
    } else {
        std::snprintf(text, sizeof text, "%d", 7);
    }
    return text;
}

}  // namespace mw
