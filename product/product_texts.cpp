#include "product/product_texts.hpp"

#include <array>
#include <cstddef>

#include "app/identity.hpp"
#include "app/languages.hpp"
#include "platform/registry.hpp"

namespace mw::product {
namespace {

constexpr std::size_t kTextCount = static_cast<std::size_t>(Text::KeptData) + 1;

struct LanguageTexts {
    int32_t language;
    std::array<const char*, kTextCount> texts;
};

// Order of Text.
const LanguageTexts kTexts[] = {
    {0,  // French
     {"Version %1", "Bibliothèques", "Textures", "(aucune)", "Fermer", "Désinstaller %1",
      "Voulez-vous supprimer %1 et tous ses composants de cet ordinateur ?",
      "Vos bibliothèques et images seront également supprimées.",
      "Vous devez fermer '%1' avant de poursuivre la désinstallation.",
      "Une autre installation ou désinstallation de ce produit est en cours.",
      "Le journal d'installation %1 est absent, endommagé ou modifiable par un autre "
      "utilisateur. Rien n'a été supprimé.",
      "%1 a été supprimé de votre ordinateur.",
      "%1 a été supprimé, mais les éléments suivants n'ont pas pu l'être :", "Conservés :"}},
    {1,  // English
     {"Version %1", "Libraries", "Textures", "(none)", "Close", "Uninstall %1",
      "Do you want to remove %1 and all of its components from this computer?",
      "Your libraries and images will be removed as well.",
      "You must close '%1' before continuing the uninstallation.",
      "Another installation or uninstallation of this product is running.",
      "The install log %1 is missing, damaged or could have been changed by another user. "
      "Nothing was removed.",
      "%1 was removed from your computer.",
      "%1 was removed, but the following items could not be:", "Kept:"}},
    {2,  // German
     {"Version %1", "Bibliotheken", "Texturen", "(keine)", "Schließen", "%1 deinstallieren",
      "Möchten Sie %1 und alle zugehörigen Komponenten von diesem Computer entfernen?",
      "Ihre Bibliotheken und Bilder werden ebenfalls entfernt.",
      "Sie müssen '%1' schließen, bevor die Deinstallation fortgesetzt werden kann.",
      "Eine andere Installation oder Deinstallation dieses Produkts läuft bereits.",
      "Das Installationsprotokoll %1 fehlt, ist beschädigt oder könnte von einem anderen "
      "Benutzer geändert worden sein. Es wurde nichts entfernt.",
      "%1 wurde von Ihrem Computer entfernt.",
      "%1 wurde entfernt, aber die folgenden Elemente konnten nicht entfernt werden:",
      "Beibehalten:"}},
    {3,  // Spanish
     {"Versión %1", "Bibliotecas", "Texturas", "(ninguna)", "Cerrar", "Desinstalar %1",
      "¿Desea quitar %1 y todos sus componentes de este equipo?",
      "Sus bibliotecas e imágenes también se quitarán.",
      "Debe cerrar '%1' antes de continuar con la desinstalación.",
      "Hay otra instalación o desinstalación de este producto en curso.",
      "El registro de instalación %1 falta, está dañado o pudo ser modificado por otro "
      "usuario. No se ha quitado nada.",
      "%1 se ha quitado de su equipo.",
      "%1 se ha quitado, pero no se pudieron quitar los elementos siguientes:", "Conservados:"}},
    {4,  // Portuguese
     {"Versão %1", "Bibliotecas", "Texturas", "(nenhuma)", "Fechar", "Desinstalar %1",
      "Deseja remover %1 e todos os seus componentes deste computador?",
      "As suas bibliotecas e imagens também serão removidas.",
      "Tem de fechar '%1' antes de continuar a desinstalação.",
      "Está em curso outra instalação ou desinstalação deste produto.",
      "O registo de instalação %1 não existe, está danificado ou pode ter sido alterado por "
      "outro utilizador. Nada foi removido.",
      "%1 foi removido do seu computador.",
      "%1 foi removido, mas não foi possível remover os seguintes itens:", "Mantidos:"}},
    {5,  // Dutch
     {"Versie %1", "Bibliotheken", "Texturen", "(geen)", "Sluiten", "%1 verwijderen",
      "Wilt u %1 en alle onderdelen ervan van deze computer verwijderen?",
      "Uw bibliotheken en afbeeldingen worden ook verwijderd.",
      "U moet '%1' sluiten voordat u doorgaat met verwijderen.",
      "Er loopt al een andere installatie of verwijdering van dit product.",
      "Het installatielogboek %1 ontbreekt, is beschadigd of kan door een andere gebruiker "
      "zijn gewijzigd. Er is niets verwijderd.",
      "%1 is van uw computer verwijderd.",
      "%1 is verwijderd, maar de volgende onderdelen konden niet worden verwijderd:", "Bewaard:"}},
    {7,  // Turkish
     {"Sürüm %1", "Kitaplıklar", "Dokular", "(yok)", "Kapat", "%1 kaldır",
      "%1 ve tüm bileşenlerini bu bilgisayardan kaldırmak istiyor musunuz?",
      "Kitaplıklarınız ve resimleriniz de kaldırılacak.",
      "Kaldırmaya devam etmeden önce '%1' uygulamasını kapatmalısınız.",
      "Bu ürünün başka bir kurulumu veya kaldırılması sürüyor.",
      "%1 kurulum günlüğü eksik, bozuk veya başka bir kullanıcı tarafından değiştirilmiş "
      "olabilir. Hiçbir şey kaldırılmadı.",
      "%1 bilgisayarınızdan kaldırıldı.",
      "%1 kaldırıldı, ancak şu öğeler kaldırılamadı:", "Korunanlar:"}},
    {14,  // Greek
     {"Έκδοση %1", "Βιβλιοθήκες", "Υφές", "(καμία)", "Κλείσιμο", "Απεγκατάσταση %1",
      "Θέλετε να καταργήσετε το %1 και όλα τα στοιχεία του από αυτόν τον υπολογιστή;",
      "Οι βιβλιοθήκες και οι εικόνες σας θα καταργηθούν επίσης.",
      "Πρέπει να κλείσετε το '%1' πριν συνεχίσετε την απεγκατάσταση.",
      "Εκτελείται ήδη άλλη εγκατάσταση ή απεγκατάσταση αυτού του προϊόντος.",
      "Το αρχείο καταγραφής εγκατάστασης %1 λείπει, είναι κατεστραμμένο ή μπορεί να έχει "
      "αλλάξει από άλλο χρήστη. Δεν καταργήθηκε τίποτα.",
      "Το %1 καταργήθηκε από τον υπολογιστή σας.",
      "Το %1 καταργήθηκε, αλλά τα ακόλουθα στοιχεία δεν ήταν δυνατό να καταργηθούν:",
      "Διατηρήθηκαν:"}},
    {18,  // Japanese
     {"バージョン %1", "ライブラリ", "テクスチャ", "(なし)", "閉じる", "%1 のアンインストール",
      "%1 とそのすべてのコンポーネントをこのコンピューターから削除しますか?",
      "ライブラリと画像も削除されます。",
      "アンインストールを続行する前に '%1' を終了してください。",
      "この製品の別のインストールまたはアンインストールが実行中です。",
      "インストール ログ %1 が見つからないか、破損しているか、他のユーザーによって変更された"
      "可能性があります。何も削除されていません。",
      "%1 はこのコンピューターから削除されました。",
      "%1 は削除されましたが、次の項目は削除できませんでした:", "保持された項目:"}},
};

const LanguageTexts& TextsOf(int32_t language) {
    for (const LanguageTexts& t : kTexts)
        if (t.language == language) return t;
    return kTexts[1];
}

}  // namespace

std::string ProductTextIn(int32_t language, Text id) {
    return TextsOf(language).texts[static_cast<std::size_t>(id)];
}

std::optional<int32_t> StoredProductLanguage() {
    std::error_code ec;
    const auto value = platform::MachineRegistry().GetValue(uninstallKey, kMwLanguageValue, ec);
    if (!value) return std::nullopt;
    const auto number = value->DwordValue();
    if (!number || *number > static_cast<uint32_t>(kLanguageCount)) return std::nullopt;
    const auto index = static_cast<int32_t>(*number);
    if (!IsProductLanguage(index)) return std::nullopt;
    return index;
}

int32_t ProductLanguage() {
    if (auto stored = StoredProductLanguage()) return *stored;
    return LanguageFromUserDefault(ProductLanguageMask);
}

}  // namespace mw::product
