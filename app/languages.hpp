// The installer's twenty interface languages and its string catalog. Every
// visible text is asked for by the identifier of its French text (the base
// id) and answered in the current interface language, falling back to
// English and then to French where a translation is missing ("#"). The
// process-wide language state lives here, with the choice of the language at
// start and the rule that runs when the user picks another language.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace mw::platform {
class ResourceBundle;
}

namespace mw {

using LanguageIndex = int32_t;  // 0 to 19
using LanguageMask = uint32_t;  // bit n stands for LanguageIndex n

inline constexpr LanguageIndex kLanguageCount = 20;
inline constexpr LanguageIndex kFrench = 0;
inline constexpr LanguageIndex kEnglish = 1;

// The languages the product itself can be installed in: French, English,
// German, Spanish, Portuguese, Dutch, Turkish, Greek and Japanese.
inline constexpr LanguageMask ProductLanguageMask = 0x440BF;

struct LanguageInfo {
    const char* name;    // English name, for logs and tests
    uint16_t primaryId;  // primary language that selects the row
    uint16_t langId;     // LANGID of the row's locale
    uint32_t offset;     // added to a base id by the catalog
    bool product;        // in ProductLanguageMask
    bool translated;     // the installer's own texts exist
    uint32_t flagIcon;   // icon resource beside the language in lists
};

// The row of an index; nullptr outside 0..19.
const LanguageInfo* FindLanguage(LanguageIndex index);

bool IsProductLanguage(LanguageIndex index);
bool IsInstallerTranslated(LanguageIndex index);
// 0 outside 0..19.
uint16_t LanguageToLangId(LanguageIndex index);
uint32_t FlagIconId(LanguageIndex index);

// The process-wide language state, created on first use.
struct LocaleState {
    LanguageMask mask = 1;
    LanguageIndex index = 0;  // the current interface language
    uint32_t lcid = 0;
    uint32_t codePage = 1252;
    // Whose string resources the framework's look-ups use; nullptr stands for
    // the executable's own bundle.
    const platform::ResourceBundle* resourceModule = nullptr;
};

// The state (created and its locale applied on the first call).
LocaleState& GetLocaleState();
// Makes the next GetLocaleState() create the state anew.
void ResetLocaleStateForTesting();

// Makes the language current for the whole process: the state's index, lcid
// and code page, and the process locale. An index outside 0..19 is ignored.
void SelectLanguage(LanguageIndex index);
LanguageIndex CurrentLanguage();

// The product language the user settled on (one of the nine): chosen at
// start, or picked in the language list, before the interface falls back to
// English for a language the installer is not translated into. The product
// is installed in it and the uninstall key stores it (MwLanguage).
LanguageIndex ProductLanguage();
void SetProductLanguage(LanguageIndex index);

// The row whose primary id is the user's default language, when its bit is
// in `mask` (0: the state's mask); else English when the mask has English,
// else French.
LanguageIndex LanguageFromUserDefault(LanguageMask mask);

// Sets up the process locale from the user's default locale at start. False
// when the standard library cannot give the facets the program relies on;
// start-up then shows "Initialization Error".
bool SetUpProcessLocale();

// The locale name (POSIX, with codeset) that applying `index` uses.
std::string LocaleNameOfLanguage(LanguageIndex index);

// Chooses the interface language at start: the user's default among the
// product languages, then the product language stored by an earlier
// installation (MwLanguage), then English when the installer is not
// translated into the result. Sets the application title.
void ChooseLanguageAtStart();

// The value of the product's uninstall key (identity.hpp) that holds the
// language an earlier installation was made in (REG_DWORD).
inline constexpr const char* kMwLanguageValue = "MwLanguage";

// The main window's hook for the language-change rule: sets every text of
// the window again in the current language.
class IRelabel {
public:
    virtual ~IRelabel() = default;
    virtual void Relabel() = 0;
};

// The window that OnLanguageChosen relabels (not owned); nullptr: none.
void SetRelabelTarget(IRelabel* target);

// The language-change rule, run when the user picks a language in the list.
void OnLanguageChosen(LanguageIndex index);

// ---- String catalog ----

// Where texts come from: the string resource of an identifier, nullopt when
// absent. The default reads the state's resource module (the executable).
using StringSource = std::function<std::optional<std::string>(uint32_t id)>;
// Installs another source (tests feed the tables compiled from res/strings);
// an empty function restores the default.
void SetStringSourceForTesting(StringSource source);
// The bundle whose string tables the default source reads before the
// executable's own (the unattended install reads the installer's); nullptr:
// only the executable's. Not owned.
void SetStringBundle(const platform::ResourceBundle* bundle);

// The string resource `id` as it is stored, without the catalog's rules.
std::optional<std::string> LoadStringById(uint32_t id);

uint32_t ResolveStringId(uint32_t baseId);
// The text of ResolveStringId(baseId); empty when there is none.
std::string LoadCatalogString(uint32_t baseId);

// Every base id of the catalog, ascending.
std::span<const uint32_t> CatalogBaseIds();

// "Installer" in the current language, with the product: "Installer – Arbolux 7.13c".
std::string BuildTitle(bool withProduct);

bool IsRightToLeft(LanguageIndex index);
// The language's own name for lists, first letter upper-cased.
std::string LanguageName(LanguageIndex index);

}  // namespace mw
