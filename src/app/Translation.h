#pragma once
// The language of the window. The Chinese texts in the code are the source texts; an English
// translation (built from i18n/stillwick_en.ts) is loaded for every locale whose language is
// not Chinese. Chinese locales and C/POSIX keep the source texts. English error messages are
// not translated and read the same in both.

#include <QLocale>

class QCoreApplication;

bool WantsEnglish(const QLocale& locale);

// Installs the translation `locale` wants into `app`; false when it keeps the source texts.
// The translator lives until RemoveTranslation or the end of the program.
bool InstallTranslation(QCoreApplication& app, const QLocale& locale = QLocale::system());
void RemoveTranslation();
