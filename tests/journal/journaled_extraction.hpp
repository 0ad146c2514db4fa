// The install sequence's extraction callback, reduced to what concerns the
// journal, for the tests that prove a rollback loses nothing.
#pragma once

#include <string>
#include <variant>

#include "engine/payload_extractor.hpp"
#include "journal/journal.hpp"
#include "journal/security.hpp"
#include "platform/file_system.hpp"

namespace mwtest {

// The install sequence's extraction callback, reduced to what concerns the
// journal: record each file before it is written, mark it when it is done,
// leave existing data files in place, fail the entry whose earlier file
// cannot be saved.
class JournaledCallback {
public:
    explicit JournaledCallback(mw::InstallJournal& journal) : journal_(journal) {}

    mw::notification::result operator()(const mw::notification& n) {
        using R = mw::notification::result;
        if (auto* s = std::get_if<mw::notification::EntryStarted>(&n.value)) {
            const mw::PayloadEntry& e = s->entry;
            bool data = e.kind == mw::PayloadKind::DataFile;
            if (data && Exists(e.destination)) {
                if (!journal_.RecordFile(e.destination, static_cast<int32_t>(e.kind), true)) return R::Abort;
                journal_.MarkResult(true);
                mw::GrantAccess(e.destination, mw::access::FileReadWriteDelete, 0);
                return R::Skip;
            }
            if (!journal_.RecordFile(e.destination, static_cast<int32_t>(e.kind), data)) return R::Abort;
            return R::Continue;
        }
        if (auto* d = std::get_if<mw::notification::EntryDone>(&n.value)) {
            if (d->entry.kind == mw::PayloadKind::DataFile) {
                mw::GrantAccess(d->entry.destination, mw::access::FileReadWriteDelete, 0);
            }
            journal_.MarkResult(true);
            return R::Continue;
        }
        if (std::holds_alternative<mw::notification::Failed>(n.value)) {
            journal_.MarkResult(false);
            return R::Abort;
        }
        return R::Continue;
    }

private:
    static bool Exists(const std::string& path) {
        std::error_code ec;
        return mw::platform::Files().Status(path, ec).type != mw::platform::FileType::None;
    }
    mw::InstallJournal& journal_;
};

}  // namespace mwtest
