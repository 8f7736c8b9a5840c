// English texts of the update check dialog and of mailing the results.
#include <iterator>

#include "resources/english/texts.h"

namespace {

const TextPair kTexts[] = {
    // Connection settings and update check.
    {"Настройка соединения и проверка обновлений", "Connection settings and update check"},
    {"Использовать настройки прокси из MS Internet Explorer",
     "Use the system's proxy settings (environment)"},
    {"Использовать следующие настройки прокси", "Use the following proxy settings"},
    {"Адрес", "Address"},
    {"Порт", "Port"},
    {"Пользователь", "User"},
    {"Пароль", "Password"},
    {"Проверить обновление...", "Check for update..."},

    // Mailing the results.
    {"Не удалось загрузить поддержку почтовой системы.", "Unable to load mail system support."},
    {"Почтовая программа не найдена или не работает.", "The mail program is missing or does not work."},
    {"Не удалось отправить сообщение.", "The message could not be sent."},
};

TextTableRegistrar reg(kTexts, std::size(kTexts));

}  // namespace
