#include "support/string_tables.hpp"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "app/languages.hpp"

namespace mwtest {

const mw::platform::StringTable& SourceStringTables() {
    static const mw::platform::StringTable tables = [] {
        std::vector<std::string> files;
        for (const auto& entry :
             std::filesystem::directory_iterator(std::string(MW_SOURCE_DIR) + "/res/strings")) {
            if (entry.path().extension() == ".tsv") files.push_back(entry.path().string());
        }
        std::sort(files.begin(), files.end());
        mw::platform::StringTable merged;
        for (const std::string& file : files) {
            mw::platform::StringTable one;
            std::string error;
            if (!mw::platform::ReadStringTableFile(file, one, error))
                throw std::runtime_error(error);
            for (auto& [id, text] : one) {
                if (!merged.emplace(id, text).second) {
                    throw std::runtime_error(file + ": id " + std::to_string(id) +
                                             " also elsewhere");
                }
            }
        }
        return merged;
    }();
    return tables;
}

ScopedSourceStrings::ScopedSourceStrings() {
    const mw::platform::StringTable& tables = SourceStringTables();
    mw::SetStringSourceForTesting([&tables](uint32_t id) -> std::optional<std::string> {
        auto it = tables.find(id);
        if (it == tables.end()) return std::nullopt;
        return it->second;
    });
    mw::ResetLocaleStateForTesting();
}

ScopedSourceStrings::~ScopedSourceStrings() {
    mw::SetStringSourceForTesting({});
    mw::ResetLocaleStateForTesting();
}

}  // namespace mwtest
