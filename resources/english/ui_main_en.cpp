// English texts of the main window, its menus and tooltips, the progress
// dialog, the folder tree, the file list and the about box.
#include <iterator>

#include "resources/english/texts.h"

namespace {

const TextPair kTexts[] = {
    // Menus.
    {"&Настройки", "&Settings"},
    {"&Общие настройки...", "&General settings..."},
    {"&Сохранить...", "&Save..."},
    {"&Загрузить...", "&Load..."},
    {"&Проверить обновление...", "&Check for updates..."},
    {"Выход\tAlt+F4", "Exit\tAlt+F4"},
    {"&Инструменты", "&Tools"},
    {"&Разобрать многокадровый GIF/TIFF/ICO", "&Split a multi-frame GIF/TIFF/ICO"},
    {"&Язык", "&Language"},
    {"&Русский", "&Russian"},
    {"&Английский", "&English"},
    {"&О программе", "&About"},

    // The list.
    {"1. Список файлов на конвертацию:", "1. Files to convert:"},
    {"Добавить...", "Add..."},
    {"Удалить", "Remove"},
    {"Удалить все", "Remove all"},
    {"Вид списка:", "View:"},
    {"Список", "List"},
    {"Таблица", "Table"},
    {"Эскизы", "Thumbnails"},
    {"Файлы и Папки", "Files and folders"},
    {"Пути", "Paths"},
    {"Размер файла, байт", "File size, bytes"},
    {"Размер изображения", "Image size"},
    {"%s - подготовка эскиза для %s", "%s - preparing the thumbnail of %s"},

    // Stages, options, output.
    {"2. Настройки конвертации (размеры, повороты...), активные отмечены галочками слева",
     "2. Conversion settings (size, rotation...), the active ones are ticked on the left"},
    {"3. Настройки хода конвертации", "3. How to convert"},
    {"Включая подпапки", "Including subfolders"},
    {"Сохр. структуру", "Keep structure"},
    {"Создавать резервные копии", "Make backup copies"},
    {"Интерактивно", "Interactive"},
    {"Переименование", "Rename"},
    {"Не сквозное", "Per folder"},
    {"По окончании открыть выходную папку", "Open the output folder when done"},
    {"По окончании отправить результаты по e-mail", "E-mail the results when done"},
    {"4. Куда и во что конвертировать", "4. Where to and into what"},
    {"Выходная папка", "Output folder"},
    {"Выходной формат", "Output format"},
    {"Настройки формата...", "Format options..."},
    {"Выберите выходную папку", "Choose the output folder"},

    // Buttons at the bottom, help.
    {"&Справка", "&Help"},
    {"Справка", "Help"},
    {"Конвертировать", "Convert"},
    {"Закрыть", "Close"},
    {"1. Выберите файлы и папки в дереве слева и добавьте их в список кнопкой \">>\", "
     "кнопкой \"Добавить...\" или перетаскиванием.\n"
     "2. Настройте этапы конвертации: размеры, поворот, метаданные, водяные знаки, фильтры.\n"
     "3. Задайте ход конвертации: подпапки, резервные копии, переименование.\n"
     "4. Выберите выходную папку и формат и нажмите \"Конвертировать\".",
     "1. Choose files and folders in the tree on the left and add them to the list with the "
     "\">>\" button, the \"Add...\" button or by dragging.\n"
     "2. Set up the conversion stages: size, rotation, metadata, watermarks, filters.\n"
     "3. Choose how to convert: subfolders, backup copies, renaming.\n"
     "4. Choose the output folder and format and press \"Convert\"."},

    // Tooltips.
    {"Добавить файлы в список с использованием диалога выбора файлов",
     "Add files to the list with the file dialog"},
    {"Удалить выбранные файлы из списка", "Remove the selected files from the list"},
    {"Если это поле пустое, то выходные файлы запишутся туда, где были исходные (не "
     "рекомендуется)",
     "When this field is empty, the output files are written where the sources were (not "
     "recommended)"},
    {"Выдает диалог настройки изображения (поворот, яркость, ...) для каждого файла перед его "
     "преобразованием. ",
     "Shows the image adjustment dialog (rotation, brightness, ...) for every file before it is "
     "converted. "},
    {"Также можно просто перетаскивать файлы из Проводника в окно Lumaro",
     "You can also simply drag files from a file manager into the Lumaro window"},
    {"Добавить выбранные файлы и папки из дерева в список конвертации",
     "Add the files and folders selected in the tree to the conversion list"},
    {"Обрабатывать изображения в подпапках выбранных папок",
     "Convert the images in the subfolders of the chosen folders"},
    {"Воссоздавать структуру подпапок в выбранных папках",
     "Rebuild the subfolder structure of the chosen folders"},
    {"Переименовывать файлы в процессе конвертации\nДля задания шаблона переименования и "
     "примеров нажмите кнопку [...]",
     "Rename the files while converting\nPress the [...] button for the rename pattern and "
     "examples"},
    {"Вкл. - Использовать свою нумерацию для каждой папки и подпапки\nВыкл. - Использовать "
     "сквозную нумерацию для всех папок",
     "On - number the files of every folder and subfolder separately\nOff - number the files "
     "of all folders in one sequence"},
    {"Шаблон переименования\n# - одна цифра последовательности\n* - имя исходного файла\n^ - "
     "имя родительской папки\n\nДля задания шаблона переименования и примеров нажмите кнопку "
     "[...]",
     "Rename pattern\n# - one digit of the sequence number\n* - the source file's name\n^ - "
     "the parent folder's name\n\nPress the [...] button for the rename pattern and examples"},

    // Settings files and general settings.
    {"Не удалось сохранить настройки в файл %1", "Could not save the settings to the file %1"},
    {"Файл %1 не является файлом настроек. Установлены значения по умолчанию, файл не "
     "изменён.",
     "The file %1 is not a settings file. The defaults were set; the file was not changed."},
    {"Общие настройки", "General settings"},
    {"Качество эскизов", "Thumbnail quality"},
    {"Высокое качество (скорость обработки медленнее)", "High quality (slower)"},
    {"Низкое качество (скорость обработки быстрее)", "Low quality (faster)"},
    {"Размеры эскиза", "Thumbnail size"},

    // Message boxes and the progress dialog.
    {"&Да", "&Yes"},
    {"&Нет", "&No"},
    {"Остановить", "Stop"},

    // The folder tree.
    {"Компьютер", "Computer"},
    {"Домашняя папка", "Home folder"},
    {"Файловая система", "File system"},

    // The about box.
    {"О программе Lumaro III", "About Lumaro III"},
    {"Пакетный конвертер графических файлов с возможностью одновременного изменения размеров "
     "изображения, водяных знаков  и метаданных.",
     "A batch converter of image files that can change the size of the images, stamp "
     "watermarks and edit metadata at the same time."},
    {"Программа распространяется бесплатно, как есть, без каких-либо гарантий. Используйте её "
     "на свой страх и риск.",
     "The program is free and comes as is, without any warranty. Use it at your own risk."},
    {"Авторы: разработчики Lumaro III", "Authors: the Lumaro III developers"},
    {"Движок: собственная библиотека изображений Lumaro (libjpeg-turbo, libpng, libtiff, "
     "giflib, OpenJPEG)",
     "Engine: Lumaro's own image library (libjpeg-turbo, libpng, libtiff, giflib, OpenJPEG)"},
};

TextTableRegistrar reg(kTexts, std::size(kTexts));

}  // namespace
