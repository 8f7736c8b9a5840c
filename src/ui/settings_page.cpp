#include "ui/settings_page.h"

CSettingsPage::CSettingsPage(const QString& title, QWidget* parent)
    : QWidget(parent), title_(title) {}
