// English texts of the update check dialog, of mailing the results and of
// the command line.
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

    // The command line.
    {"после --settings нужен файл настроек", "--settings needs a file"},
    {"после --set нужно РАЗДЕЛ.КЛЮЧ=ЗНАЧЕНИЕ", "--set needs SECTION.KEY=VALUE"},
    {"после --output нужна папка", "--output needs a folder"},
    {"после --format нужно имя формата", "--format needs a name"},
    {"неизвестный параметр %s", "unknown option %s"},
    {"не заданы файлы или папки", "no files or folders given"},
    {"неизвестный формат %s", "unknown output format %s"},
    {"%s: нет такого файла настроек", "%s: no such settings file"},
    {"--set: нужно РАЗДЕЛ.КЛЮЧ=ЗНАЧЕНИЕ, а не '%s'", "--set needs SECTION.KEY=VALUE, not '%s'"},
    {"--set %s: неизвестная настройка", "--set %s: unknown setting"},
    {"--shard auto: SLURM_ARRAY_TASK_ID вне массива заданий",
     "--shard auto: SLURM_ARRAY_TASK_ID is outside the array"},
    {"--shard auto: не задана ни SLURM_ARRAY_TASK_ID, ни JOB_COMPLETION_INDEX",
     "--shard auto: neither SLURM_ARRAY_TASK_ID nor JOB_COMPLETION_INDEX is set"},
    {"--shard auto/N: N должно быть числом, а не '%s'", "--shard auto/N needs a number N, not '%s'"},
    {"--shard auto: число частей не задано в окружении; укажите auto/N",
     "--shard auto: the number of shards is not in the environment; give auto/N"},
    {"--shard: нужно I/N (0 <= I < N), auto или auto/N, а не '%s'",
     "--shard needs I/N (0 <= I < N), auto or auto/N, not '%s'"},
    {"--shard %s: нужно 0 <= I < N", "--shard %s: needs 0 <= I < N"},
    {"--jobs: нужно число не меньше 1, а не '%s'", "--jobs needs a number of at least 1, not '%s'"},
    {"не удаётся записать отчёт %s", "cannot write the report %s"},
    {"после %s нужно значение", "%s needs a value"},
    {"программа собрана без окна; используйте --convert",
     "built without the desktop program; use --convert"},
};

TextTableRegistrar reg(kTexts, std::size(kTexts));

}  // namespace
