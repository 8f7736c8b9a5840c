// English texts for every string number of the program.
#include "services/strings.h"

namespace {
struct Entry {
  int id;
  const char* text;
};

const Entry kEnglish[] = {
    {IDS_OLE_INIT_FAILED,
     "Initialisation failed. Make sure that the required libraries are installed."},
    {IDS_ABOUT_MENU, "&About Lumaro3..."},
    {IDS_PROGRESS_LABEL, "Done:"},
    {IDS_OPEN_FILTER,
     "Images|*.bmp;*.gif;*.jpg;*.jpeg;*.png;*.ico;*.tif;*.tiff;*.tga;*.pcx;*.wbmp;*.wmf;"
     "*.emf;*.j2k;*.jp2;*.jbg;*.j2c;*.jpc;*.pgx;*.pnm;*.pgm;*.ppm;*.ras;*.webp;*.heic;*.heif;*.hif;"
     "*.avif;*.jxl;*.dng;*.cr2;*.cr3;*.nef;*.arw;*.orf;*.rw2;*.raf;*.pef;*.srw|All files (*.*)|*.*||"},
    {IDS_LANGUAGE_RESTART, "Restart the application to change the language."},
    {IDS_CANNOT_CREATE_FILE,
     "Could not create the file %s. \nPerhaps a file of that name is in use by another "
     "application."},
    {IDS_ABOUT_VERSION, "Lumaro III, ver. %d.%d, build %s"},
    {IDS_RENAME_WITHOUT_PATTERN,
     "Renaming is chosen, but no pattern is given.\nStart the conversion without renaming?"},
    {IDS_NO_OUTPUT_FOLDER,
     "No output folder is given.\nFiles will be written over existing ones.\nContinue?"},
    {IDS_SPLIT_NOT_MULTIFRAME, "The file does not hold a sequence of images"},
    {IDS_SPLIT_DONE, "The image sequence was saved. %d of %d frames written."},
    {IDS_SPLIT_FAILED, "Could not split the file into frames"},
    {IDS_SPLIT_CHOOSE_FOLDER, "Choose the folder for the frames"},
    {IDS_FILTER_DUPLICATE_GUID,
     "A filter with this GUID already exists. The filter %s will not be loaded."},
    {IDS_CANNOT_CREATE_FOLDER, "Could not create the folder %1"},
    {IDS_RESTART_NEEDED, "Restart the application for the changes to take effect"},
    {IDS_SETTINGS_FILTER, "Settings files (*.ini)|*.ini|All files (*.*)|*.*||"},
    {IDS_SUMMARY, "Converted %d files, errors %d, skipped %d"},
    {IDS_UPDATE_NOT_FOUND_FILE,
     "Could not find out the new version.\nThe version file or the site was not found."},
    {IDS_UPDATE_NO_CONNECTION, "Could not find out the new version.\nCould not connect."},
    {IDS_UPDATE_NEW_VERSION, "A new version %d.%d is available. Open the program's page?"},
    {IDS_UPDATE_NONE, "No updates found"},
    {IDS_TIME_ONLY, "%02d:%02d"},
    {IDS_DATE_AND_TIME, "%02d.%02d.%d  %02d:%02d"},
    {IDS_TIME_AND_DATE, "%02d:%02d %02d.%02d.%d"},
    {IDS_DATE_ONLY, "%02d.%02d.%d"},
    {IDS_FILTER_COLUMN, "Filter"},
    {IDS_DESCRIPTION_COLUMN, "Description"},
    {IDS_APP_NAME, "Lumaro III"},
    {IDS_RESULTS_CAPTION, "Conversion results"},
    {IDS_BATCH_USAGE,
     "Usage: lumaro --convert [--settings FILE] [--set SECTION.KEY=VALUE]... "
     "[--output DIR] [--format NAME] [--quiet] [--overwrite-sources]\n"
     "                      [--jobs N] [--shard I/N|auto|auto/N] [--skip-existing] "
     "[--report FILE] [--] PATH...\n"
     "       lumaro --split FILE FOLDER\n"
     "       lumaro [FILE|FOLDER]...\n"
     "       lumaro --help | --version"},
    {IDS_BATCH_NOT_A_SETTINGS_FILE,
     "Warning: %s is not a settings file; the defaults are used and the file is left as it is."},
    {IDS_BATCH_NO_FILES, "No files to convert."},
    {IDS_PROCESSING, "Processing..."},
};
}  // namespace

extern "C" __attribute__((visibility("default"))) const char* LumaroEngString(int id) {
  for (const Entry& e : kEnglish)
    if (e.id == id) return e.text;
  return nullptr;
}

// The one-line descriptions of the output formats' options.
#include <iterator>

#include "resources/english/texts.h"

namespace {
const TextPair kFormatTexts[] = {
    {"Вкл", "On"},
    {"Выкл", "Off"},
    {"<Нет настроек>", "<No options>"},
    {"Качество:%d%%, ", "Quality:%d%%, "},
    {"Сглаживание:%d, ", "Smoothing:%d, "},
    {"Хаффман:%s, ", "Huffman:%s, "},
    {"Прогрессивный:%s", "Progressive:%s"},
    {"Чересстрочно:%s", "Interlaced:%s"},
    {"Сжатие:%s", "Compression:%s"},
    {"Нет", "None"},
    {"Палитра:%s, ", "Palette:%s, "},
    {"Стандартная", "Standard"},
    {"Адаптивная", "Adaptive"},
    {"Пользовательская", "User"},
    {"Кол-во цветов:%d, ", "Colours:%d, "},
    {"Диффузия:%s, ", "Dithering:%s, "},
    {", Файл палитры:", ", Palette file:"},
    {"Не менять", "Keep the format"},
    {"Нет настроек, запись в формат WMF и EMF не поддерживается",
     "No options; WMF and EMF cannot be written"},
};
TextTableRegistrar g_formatTexts(kFormatTexts, std::size(kFormatTexts));
}  // namespace

// The descriptions of the WebP, AVIF and JPEG XL output formats.
namespace {
const TextPair kContainerFormatTexts[] = {
    {"Метод:%d, ", "Method:%d, "},
    {"Без потерь:%s", "Lossless:%s"},
    {"Скорость:%d, ", "Speed:%d, "},
    {"Цветность:%s", "Chroma:%s"},
    {"Усилие:%d, ", "Effort:%d, "},
};
TextTableRegistrar g_containerFormatTexts(kContainerFormatTexts,
                                          std::size(kContainerFormatTexts));
}  // namespace
