#include "services/strings.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

namespace {

struct Entry {
  int id;
  const char* text;
};

const Entry kRussian[] = {
    {IDS_OLE_INIT_FAILED,
     "Инициализация OLE завершилась неудачно. Убедитесь, что установлены библиотеки OLE "
     "корректной версии."},
    {IDS_ABOUT_MENU, "&О программе Lumaro3..."},
    {IDS_PROGRESS_LABEL, "Выполнено:"},
    {IDS_OPEN_FILTER,
     "Изображения|*.bmp;*.gif;*.jpg;*.jpeg;*.png;*.ico;*.tif;*.tiff;*.tga;*.pcx;*.wbmp;*.wmf;"
     "*.emf;*.j2k;*.jp2;*.jbg;*.j2c;*.jpc;*.pgx;*.pnm;*.pgm;*.ppm;*.ras;*.webp;*.heic;*.heif;*.hif;"
     "*.avif;*.jxl;*.dng;*.cr2;*.cr3;*.nef;*.arw;*.orf;*.rw2;*.raf;*.pef;*.srw|Все файлы (*.*)|*.*||"},
    {IDS_LANGUAGE_RESTART, "Для изменения языка необходимо перезапустить приложение."},
    {IDS_CANNOT_CREATE_FILE,
     "Не удалось создать файл %s. \nВозможно файл с таким именем сейчас используется другим "
     "приложением."},
    {IDS_ABOUT_VERSION, "Lumaro III, ver. %d.%d, build %s"},
    {IDS_RENAME_WITHOUT_PATTERN,
     "Выбрано переименование, но не задан шаблон для него.\nНачать конвертирование без "
     "переименования?"},
    {IDS_NO_OUTPUT_FOLDER,
     "Не задана выходная директория.\nФайлы будут перезаписаны поверх "
     "существующих.\nПродолжить?"},
    {IDS_SPLIT_NOT_MULTIFRAME, "Файл не содержит последовательность изображений"},
    {IDS_SPLIT_DONE, "Последовательность изображений сохранена. Записано %d из %d кадров."},
    {IDS_SPLIT_FAILED, "Не удалось разобрать файл на кадры"},
    {IDS_SPLIT_CHOOSE_FOLDER, "Выберите папку, куда помещать кадры"},
    {IDS_FILTER_DUPLICATE_GUID,
     "Фильтр с таким GUID уже существует. Фильтр %s загружен не будет."},
    {IDS_CANNOT_CREATE_FOLDER, "Не удалось создать директорию %1"},
    {IDS_RESTART_NEEDED, "Необходимо перезапустить приложение, чтобы изменения вступили в силу"},
    {IDS_SETTINGS_FILTER, "Файлы настроек (*.ini)|*.ini|Все файлы (*.*)|*.*||"},
    {IDS_SUMMARY, "Преобразовано %d файлов, ошибок %d, пропущено %d"},
    {IDS_UPDATE_NOT_FOUND_FILE,
     "Не удалось узнать новую версию.\nНе найден файл версии на сайте или сам сайт не найден."},
    {IDS_UPDATE_NO_CONNECTION, "Не удалось узнать новую версию.\nНе удалось подключиться к сети."},
    {IDS_UPDATE_NEW_VERSION,
     "Обнаружена новая версия за номером %d.%d. Открыть страницу программы?"},
    {IDS_UPDATE_NONE, "Обновлений не найдено"},
    {IDS_TIME_ONLY, "%02d:%02d"},
    {IDS_DATE_AND_TIME, "%02d.%02d.%d  %02d:%02d"},
    {IDS_TIME_AND_DATE, "%02d:%02d %02d.%02d.%d"},
    {IDS_DATE_ONLY, "%02d.%02d.%d"},
    {IDS_FILTER_COLUMN, "Фильтр"},
    {IDS_DESCRIPTION_COLUMN, "Описание"},
    {IDS_APP_NAME, "Lumaro III"},
    {IDS_RESULTS_CAPTION, "Результаты конвертирования"},
    {IDS_BATCH_USAGE,
     "Использование: lumaro --convert [--settings ФАЙЛ] [--set РАЗДЕЛ.КЛЮЧ=ЗНАЧЕНИЕ]... "
     "[--output ПАПКА] [--format ИМЯ] [--quiet] [--overwrite-sources]\n"
     "                      [--jobs N] [--shard I/N|auto|auto/N] [--skip-existing] "
     "[--report ФАЙЛ] [--] ПУТЬ...\n"
     "       lumaro --split ФАЙЛ ПАПКА\n"
     "       lumaro [ФАЙЛ|ПАПКА]...\n"
     "       lumaro --help | --version"},
    {IDS_BATCH_NOT_A_SETTINGS_FILE,
     "Внимание: файл %s не является файлом настроек; используются настройки по умолчанию, "
     "файл не изменён."},
    {IDS_BATCH_NO_FILES, "Нет файлов для конвертирования."},
    {IDS_PROCESSING, "Идет обработка..."},
};

using StringFn = const char* (*)(int);
using TextFn = const char* (*)(const char*);
std::mutex g_libraryMutex;
void* g_library = nullptr;
std::atomic<StringFn> g_libraryString{nullptr};
std::atomic<TextFn> g_libraryText{nullptr};

}  // namespace

const char* BuiltinString(int id) {
  for (const Entry& e : kRussian)
    if (e.id == id) return e.text;
  return nullptr;
}

std::string LoadResString(int id) {
  if (StringFn fn = g_libraryString.load()) {
    if (const char* text = fn(id)) return text;
  }
  const char* text = BuiltinString(id);
  return text ? text : "";
}

std::string UiText(const char* russian) {
  if (!russian) return std::string();
  if (TextFn fn = g_libraryText.load()) {
    if (const char* text = fn(russian)) return text;
  }
  return russian;
}

bool LoadLanguageLibrary(const std::string& programFolder) {
  std::lock_guard<std::mutex> lock(g_libraryMutex);
  if (g_library) return true;
  std::string path = programFolder + kLanguageLibraryName;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
  auto fn = reinterpret_cast<StringFn>(dlsym(handle, kLanguageLibrarySymbol));
  if (!fn) {
    dlclose(handle);
    return false;
  }
  g_library = handle;
  g_libraryString.store(fn);
  g_libraryText.store(reinterpret_cast<TextFn>(dlsym(handle, kLanguageLibraryTextSymbol)));
  return true;
}

void ReleaseLanguageLibrary() {
  std::lock_guard<std::mutex> lock(g_libraryMutex);
  g_libraryString.store(nullptr);
  g_libraryText.store(nullptr);
  if (g_library) dlclose(g_library);
  g_library = nullptr;
}

bool LanguageLibraryLoaded() { return g_libraryString.load() != nullptr; }
