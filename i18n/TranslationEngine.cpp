#include "TranslationEngine.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "Language.h"

namespace vardelio {
namespace {

std::string Upper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return upper;
}

// Carriage returns never reach a catalog's identifiers; they come back before every LF.
std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

std::string WithCarriageReturns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
    out += c;
  }
  return out;
}

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  const std::string exe(path, std::size_t(n));
  return exe.substr(0, exe.rfind('/'));
}

}  // namespace

struct TTranslationEngine::TDomain {
  std::string name;
  std::string folder;
  std::string language;
  bool searched = false;  // a catalog was looked for since the language or folder was set
  TCatalogFile catalog;
  std::shared_mutex mutex;

  void Reset() {
    catalog.Close();
    searched = false;
  }
};

TTranslationEngine::TTranslationEngine(std::string baseFolder)
    : baseFolder_(std::move(baseFolder)) {}

TTranslationEngine::~TTranslationEngine() = default;

void TTranslationEngine::SelectLanguage(const std::string& code) {
  language_ = ChooseLanguage(code);
  std::lock_guard lock(domainsMutex_);
  for (auto& [key, domain] : domains_) {
    std::unique_lock domainLock(domain->mutex);
    domain->language = language_;
    domain->Reset();
  }
}

TTranslationEngine::TDomain& TTranslationEngine::DomainLocked(const std::string& name) {
  std::unique_ptr<TDomain>& slot = domains_[Upper(name)];
  if (!slot) {
    slot = std::make_unique<TDomain>();
    slot->name = name;
    slot->folder = baseFolder_;
    slot->language = language_;
  }
  return *slot;
}

void TTranslationEngine::BindDomainDirectory(const std::string& domain, const std::string& folder) {
  std::lock_guard lock(domainsMutex_);
  TDomain& d = DomainLocked(domain);
  std::unique_lock domainLock(d.mutex);
  d.folder = folder.ends_with('/') ? folder.substr(0, folder.size() - 1) : folder;
  d.Reset();
}

std::string TTranslationEngine::LookUp(TDomain& domain, const std::string& id) {
  {
    std::shared_lock lock(domain.mutex);
    if (domain.searched && !domain.catalog.IsOpen()) return id;
  }
  std::unique_lock lock(domain.mutex);
  if (!domain.searched) {
    const std::string path = TCatalogFile::Find(domain.folder, domain.language, domain.name);
    if (!path.empty()) domain.catalog.Open(path, domain.name);  // a failure: at every lookup
    domain.searched = true;
  }
  return domain.catalog.LookUp(id);
}

QString TTranslationEngine::TranslateTextInDomain(const std::string& domain, const QString& text) {
  TDomain* d = nullptr;
  {
    std::lock_guard lock(domainsMutex_);
    d = &DomainLocked(domain.empty() ? currentDomain_ : domain);
  }
  const std::string id = WithoutCarriageReturns(text.toUtf8().toStdString());
  const QString result = QString::fromUtf8(WithCarriageReturns(LookUp(*d, id)));
  if (!text.isEmpty() && result.isEmpty()) {
    throw ETranslationError("Error: Could not translate " + text.toStdString() +
                            ". Probably because the mo file doesn't contain utf-8 encoded "
                            "translations.");
  }
  return result;
}

void TTranslationEngine::AddResourceStringDomain(const std::string& domain) {
  std::unique_lock lock(frameworkDomainsMutex_);
  frameworkDomains_.push_back(domain);
}

QString TTranslationEngine::TranslateFrameworkText(const QString& text) {
  std::shared_lock lock(frameworkDomainsMutex_);
  for (const std::string& domain : frameworkDomains_) {
    const QString translated = TranslateTextInDomain(domain, text);
    if (translated != text) return translated;
  }
  return {};
}

TTranslationEngine& DefaultEngine() {
  // "locale" beside the program unless the build chose another place for its package.
  static TTranslationEngine engine(ExecutableFolder() + "/" VARDELIO_LOCALE_FROM_BIN);
  return engine;
}

}  // namespace vardelio
