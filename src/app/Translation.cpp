#include "app/Translation.h"

#include <QCoreApplication>
#include <QTranslator>

#include <memory>

namespace {
std::unique_ptr<QTranslator>& Installed() {
  static std::unique_ptr<QTranslator> translator;
  return translator;
}
}  // namespace

bool WantsEnglish(const QLocale& locale) {
  return locale.language() != QLocale::Chinese && locale.language() != QLocale::C;
}

bool InstallTranslation(QCoreApplication& app, const QLocale& locale) {
  RemoveTranslation();
  if (!WantsEnglish(locale))
    return false;
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral(":/i18n/stillwick_en.qm")))
    return false;
  app.installTranslator(translator.get());
  Installed() = std::move(translator);
  return true;
}

void RemoveTranslation() {
  if (Installed()) {
    QCoreApplication::removeTranslator(Installed().get());
    Installed().reset();
  }
}
