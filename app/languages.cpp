#include "app/languages.hpp"

#include <locale.h>
#include <stdlib.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <memory>
#include <mutex>

#include "app/app_services.hpp"
#include "app/identity.hpp"
#include "app/text_format.hpp"
#include "platform/locale.hpp"
#include "platform/registry.hpp"
#include "platform/resources.hpp"

namespace mw {
namespace {

constexpr LanguageInfo kLanguages[kLanguageCount] = {
    {"French", 0x0C, 1036, 0, true, true, 144},
    {"English", 0x09, 1033, 1000, true, true, 145},
    {"German", 0x07, 1031, 2000, true, true, 141},
    {"Spanish", 0x0A, 3082, 3000, true, true, 143},
    {"Portuguese", 0x16, 2070, 4000, true, true, 148},
    {"Dutch", 0x13, 1043, 6000, true, false, 147},
    {"Danish", 0x06, 1030, 7000, false, false, 142},
    {"Turkish", 0x1F, 1055, 8000, true, true, 149},
    {"Bulgarian", 0x02, 1026, 10000, false, false, 150},
    {"Romanian", 0x18, 1048, 11000, false, true, 151},
    {"Chinese (simplified)", 0x04, 2052, 9000, false, false, 152},
    {"Italian", 0x10, 1040, 5000, false, true, 146},
    {"Czech", 0x05, 1029, 12000, false, false, 153},
    {"Norwegian", 0x14, 1044, 13000, false, false, 154},
    {"Greek", 0x08, 1032, 14000, true, false, 155},
    {"Polish", 0x15, 1045, 15000, false, false, 156},
    {"Hebrew", 0x0D, 1037, 16000, false, false, 157},
    {"Vietnamese", 0x2A, 1066, 17000, false, false, 158},
    {"Japanese", 0x11, 1041, 18000, true, false, 160},
    {"Hungarian", 0x0E, 1038, 19000, false, false, 161},
};

constexpr uint32_t kCatalogBaseIds[] = {
    1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015,
    1016, 1017, 1018, 1100, 1101, 1102, 1103, 1104, 1105, 1106, 1107, 1108, 1110, 1111, 1112, 1113,
    1114, 1115, 1117, 1118, 1119, 1120, 1121, 1122, 1123, 1124, 1125, 1126, 1127, 1129, 1131,
};

constexpr uint32_t kTitleId = 1000;
constexpr uint32_t kTranslationPendingId = 1129;
constexpr uint32_t kEnglishOffset = 1000;

struct Globals {
    std::mutex mutex;
    std::unique_ptr<LocaleState> state;
    StringSource source;
    IRelabel* relabel = nullptr;
    const platform::ResourceBundle* bundle = nullptr;
    LanguageIndex productLanguage = kEnglish;
};

Globals& G() {
    static Globals* g = new Globals;  // used until the very end of the process
    return *g;
}

// The LCID a language uses: the user's own when it is the same language
// identifier (so the user's sort order survives), else the row's LANGID.
uint32_t LcidOfLanguage(LanguageIndex index) {
    uint32_t user = platform::UserDefaultLcid();
    uint16_t langId = LanguageToLangId(index);
    return (user & 0xFFFF) == langId ? user : langId;
}

// Makes `name` the standard library's global locale, keeping the classic
// number formatting: every number the program writes (error codes, sizes,
// versions) has to read the same in every language.
void SetGlobalLocale(const std::string& name) {
    std::locale locale = std::locale::classic();
    try {
        locale =
            std::locale(std::locale(name.c_str()), std::locale::classic(), std::locale::numeric);
    } catch (const std::runtime_error&) {
        locale = std::locale::classic();
    }
    std::locale::global(locale);
}

void ApplyLanguageLocale(LanguageIndex index) {
    std::string name = LocaleNameOfLanguage(index);
    SetGlobalLocale(name);
    std::setlocale(LC_ALL, "C");
    // The numeric category stays "C", so numbers are formatted with a point.
    // A locale the system does not have is ignored, except that character
    // handling stays UTF-8, the encoding of all our texts.
    if (!std::setlocale(LC_CTYPE, name.c_str())) std::setlocale(LC_CTYPE, "C.UTF-8");
    std::setlocale(LC_COLLATE, name.c_str());
    std::setlocale(LC_TIME, name.c_str());
    std::setlocale(LC_MONETARY, name.c_str());
}

bool IsMissing(const std::optional<std::string>& text) {
    return !text || *text == "#";
}

std::optional<std::string> DefaultStringSource(uint32_t id) {
    const platform::ResourceBundle* module = GetLocaleState().resourceModule;
    if (module) {
        if (auto text = platform::LoadStringResource(*module, id)) return text;
    }
    const platform::ResourceBundle* bundle;
    {
        std::lock_guard lock(G().mutex);
        bundle = G().bundle;
    }
    if (bundle) {
        if (auto text = platform::LoadStringResource(*bundle, id)) return text;
    }
    return platform::LoadStringResource(platform::OwnResources(), id);
}

}  // namespace

const LanguageInfo* FindLanguage(LanguageIndex index) {
    if (index < 0 || index >= kLanguageCount) return nullptr;
    return &kLanguages[index];
}

bool IsProductLanguage(LanguageIndex index) {
    return index >= 0 && index < kLanguageCount && (ProductLanguageMask >> index) & 1;
}

bool IsInstallerTranslated(LanguageIndex index) {
    const LanguageInfo* row = FindLanguage(index);
    return row && row->translated;
}

uint16_t LanguageToLangId(LanguageIndex index) {
    const LanguageInfo* row = FindLanguage(index);
    return row ? row->langId : 0;
}

uint32_t FlagIconId(LanguageIndex index) {
    const LanguageInfo* row = FindLanguage(index);
    return row ? row->flagIcon : 0;
}

LocaleState& GetLocaleState() {
    Globals& g = G();
    std::lock_guard lock(g.mutex);
    if (!g.state) {
        auto state = std::make_unique<LocaleState>();
        uint32_t user = platform::UserDefaultLcid();
        state->lcid =
            (user & 0xFFFF) == LanguageToLangId(kFrench) ? user : LanguageToLangId(kFrench);
        ApplyLanguageLocale(kFrench);
        g.state = std::move(state);
    }
    return *g.state;
}

void ResetLocaleStateForTesting() {
    Globals& g = G();
    std::lock_guard lock(g.mutex);
    g.state.reset();
}

std::string LocaleNameOfLanguage(LanguageIndex index) {
    uint32_t lcid = LcidOfLanguage(index);
    uint16_t user = platform::UserDefaultLangId();
    std::string name;
    if (user != 0 && platform::PrimaryLanguage(user) == platform::PrimaryLanguage(lcid)) {
        name = platform::UserDefaultLocaleName();
    } else {
        name = platform::PosixNameFromLangId(static_cast<uint16_t>(lcid & 0xFFFF));
    }
    if (name.empty()) return "C";
    return name + ".UTF-8";
}

void SelectLanguage(LanguageIndex index) {
    if (!FindLanguage(index)) return;
    LocaleState& state = GetLocaleState();
    if (index != state.index) ApplyLanguageLocale(index);
    state.index = index;
    state.lcid = LcidOfLanguage(index);
    uint32_t codePage = platform::AnsiCodePage(static_cast<uint16_t>(state.lcid & 0xFFFF));
    state.codePage = codePage ? codePage : platform::SystemAnsiCodePage();
    state.resourceModule = nullptr;
}

LanguageIndex CurrentLanguage() {
    return GetLocaleState().index;
}

LanguageIndex ProductLanguage() {
    std::lock_guard lock(G().mutex);
    return G().productLanguage;
}

void SetProductLanguage(LanguageIndex index) {
    if (!IsProductLanguage(index)) return;
    std::lock_guard lock(G().mutex);
    G().productLanguage = index;
}

void SetStringBundle(const platform::ResourceBundle* bundle) {
    std::lock_guard lock(G().mutex);
    G().bundle = bundle;
}

LanguageIndex LanguageFromUserDefault(LanguageMask mask) {
    if (mask == 0) mask = GetLocaleState().mask;
    uint16_t user = platform::UserDefaultLangId();
    uint16_t primary = platform::PrimaryLanguage(user);
    for (LanguageIndex i = 0; i < kLanguageCount; ++i) {
        if (kLanguages[i].primaryId != primary) continue;
        if (primary == 0x04) {
            uint16_t sub = platform::SubLanguage(user);
            if (sub != 2 && sub != 4) continue;
        }
        if ((mask >> i) & 1) return i;
        break;
    }
    return (mask & 2) ? kEnglish : kFrench;
}

bool SetUpProcessLocale() {
    // One locale for the whole process, not one per thread.
    uselocale(LC_GLOBAL_LOCALE);
    std::string name = platform::UserDefaultLocaleName() + ".UTF-8";
    SetGlobalLocale(name);
    try {
        (void)std::use_facet<std::ctype<char>>(std::locale());
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void ChooseLanguageAtStart() {
    SelectLanguage(LanguageFromUserDefault(ProductLanguageMask));
    std::error_code ec;
    std::optional<platform::RegValue> stored =
        platform::MachineRegistry().GetValue(uninstallKey, kMwLanguageValue, ec);
    if (!ec && stored && stored->type == platform::RegType::Dword && stored->data.size() == 4) {
        uint32_t value = stored->data[0] | stored->data[1] << 8 | stored->data[2] << 16 |
                         static_cast<uint32_t>(stored->data[3]) << 24;
        if (value < static_cast<uint32_t>(kLanguageCount) &&
            IsProductLanguage(static_cast<LanguageIndex>(value))) {
            SelectLanguage(static_cast<LanguageIndex>(value));
        }
    }
    SetProductLanguage(CurrentLanguage());
    if (!IsInstallerTranslated(CurrentLanguage())) SelectLanguage(kEnglish);
    SetAppTitle(BuildTitle(true));
}

void SetRelabelTarget(IRelabel* target) {
    Globals& g = G();
    std::lock_guard lock(g.mutex);
    g.relabel = target;
}

void OnLanguageChosen(LanguageIndex index) {
    if (!FindLanguage(index)) return;
    SelectLanguage(index);
    SetProductLanguage(index);
    if (!IsInstallerTranslated(index)) {
        std::string text =
            FormatMessageText(LoadCatalogString(kTranslationPendingId), {ProductDisplayName(true)});
        AppMessageBox(text, 0x40);
        SelectLanguage(kEnglish);
    }
    SetAppTitle(BuildTitle(true));
    IRelabel* relabel;
    {
        std::lock_guard lock(G().mutex);
        relabel = G().relabel;
    }
    if (relabel) relabel->Relabel();
}

void SetStringSourceForTesting(StringSource source) {
    Globals& g = G();
    std::lock_guard lock(g.mutex);
    g.source = std::move(source);
}

std::optional<std::string> LoadStringById(uint32_t id) {
    StringSource source;
    {
        std::lock_guard lock(G().mutex);
        source = G().source;
    }
    return source ? source(id) : DefaultStringSource(id);
}

uint32_t ResolveStringId(uint32_t baseId) {
    LanguageIndex language = CurrentLanguage();
    if (!IsInstallerTranslated(language)) language = kEnglish;
    uint32_t id = baseId + kLanguages[language].offset;
    if (language == kFrench) return id;
    // A text that is absent counts as missing, like "#": the user is shown
    // the next text of the chain rather than nothing.
    if (!IsMissing(LoadStringById(id))) return id;
    if (language == kEnglish) return baseId;
    if (!IsMissing(LoadStringById(baseId + kEnglishOffset))) return baseId + kEnglishOffset;
    return baseId;
}

std::string LoadCatalogString(uint32_t baseId) {
    return LoadStringById(ResolveStringId(baseId)).value_or(std::string{});
}

std::span<const uint32_t> CatalogBaseIds() {
    return kCatalogBaseIds;
}

std::string BuildTitle(bool withProduct) {
    std::string title = LoadCatalogString(kTitleId);
    if (withProduct) title += " \u2013 " + ProductDisplayName(false);
    return title;
}

bool IsRightToLeft(LanguageIndex index) {
    const LanguageInfo* row = FindLanguage(index);
    if (!row) return false;
    bool known = false;
    bool rtl = platform::IsRightToLeftLanguage(row->langId, &known);
    return known ? rtl : index == 16;
}

std::string LanguageName(LanguageIndex index) {
    const LanguageInfo* row = FindLanguage(index);
    if (!row) return {};
    return platform::NativeLanguageName(static_cast<uint16_t>(LcidOfLanguage(index) & 0xFFFF));
}

}  // namespace mw
