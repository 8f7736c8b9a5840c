// English texts of the interactive adjustment dialog, the format option
// dialogs, the rename, shadow, margin and general settings dialogs and the
// multi-frame split.
#include <iterator>

#include "resources/english/texts.h"

namespace {

const TextPair kTexts[] = {
    // Shared.
    {"Отмена", "Cancel"},
    {"Закрыть", "Close"},
    {"Нет", "None"},
    {"Введите целое число.", "Please enter an integer."},
    {"Введите целое число от %1 до %2.", "Please enter an integer between %1 and %2."},

    // Interactive adjustment.
    {"Настройка", "Adjustment"},
    {"Предпросмотр", "Preview"},
    {"Яркость", "Brightness"},
    {"Контрастность", "Contrast"},
    {"Поворот", "Rotation"},
    {"Отражение", "Flip"},
    {"Гориз.", "Horiz."},
    {"Верт.", "Vert."},
    {"Сброс", "Reset"},
    {"Больше не показывать это окно", "Do not show this window again"},
    {"Применить текущие установки ко всем последующим изображениям",
     "Apply the current settings to all following images"},
    {"Преобразовать с изменениями", "Convert with changes"},
    {"Пропустить", "Skip"},
    {"Преобразовать без изменений", "Convert without changes"},
    {"Преобразовать изображение c учетом изменений, сделанных в этом окне",
     "Convert the image with the changes made in this window"},
    {"Вообще не преобразовывать это изображение, пропустить его",
     "Do not convert this image at all, skip it"},
    {"Преобразовать изображение без изменений, сделанных в этом окне",
     "Convert the image without the changes made in this window"},

    // Format options.
    {"Свойства JPEG", "JPEG properties"},
    {"Качество и размеры файлов", "Quality and file size"},
    {"Хуже качество,\nно меньше размер", "Lower quality,\nsmaller file"},
    {"Лучше качество,\nно больше размер", "Higher quality,\nlarger file"},
    {"Прочее", "Other"},
    {"Сглаживание (1..100, = 0 - отключить)", "Smoothing (1..100, 0 = off)"},
    {"Оптимизация Хаффмана", "Optimise Huffman coding"},
    {"Прогрессивный", "Progressive"},
    {"Настройки PNG", "PNG settings"},
    {"Общие", "General"},
    {"Черезстрочно (может быть полезно для www)", "Interlaced (may be useful for the web)"},
    {"Настройки GIF", "GIF settings"},
    {"Палитра", "Palette"},
    {"Стандартная", "Standard"},
    {"Адаптивная", "Adaptive"},
    {"Цвета", "Colours"},
    {"Ограничиться", "Limit to"},
    {"цветами", "colours"},
    {"Диффузная передача полутонов", "Error diffusion"},
    {"Сжатие", "Compression"},
    {"LZW (по умолчанию)", "LZW (default)"},
    {"Настройки TIFF", "TIFF settings"},
    {"Настройки WebP", "WebP settings"},
    {"Настройки AVIF", "AVIF settings"},
    {"Настройки JPEG XL", "JPEG XL settings"},
    {"Метод сжатия (0..6, больше - меньше файл, но дольше)",
     "Method (0..6, higher - smaller file, but slower)"},
    {"Скорость (0..10, меньше - меньше файл, но дольше)",
     "Speed (0..10, lower - smaller file, but slower)"},
    {"Усилие (1..9, больше - меньше файл, но дольше)",
     "Effort (1..9, higher - smaller file, but slower)"},
    {"Без потерь", "Lossless"},
    {"Цветность 4:4:4 (без прореживания цвета)", "Chroma 4:4:4 (full colour resolution)"},

    // Rename pattern.
    {"Настройки переименования", "Rename settings"},
    {"Начинать последовательность  с цифры:", "Start the sequence at number:"},
    {"Шаблоны:", "Patterns:"},
    {"Удалить", "Delete"},
    {"Правила составления шаблона", "Pattern rules"},
    {"# - одна цифра последовательности\n* - имя исходного файла\n"
     "^ - имя родительской папки",
     "# - one digit of the sequence\n* - name of the source file\n"
     "^ - name of the parent folder"},
    {"Пример 1:\n Если шаблон: Image_###, то 5й по счету файл (например file.jpg) "
     "переименуется в Image_005",
     "Example 1:\n With the pattern Image_###, the 5th file (for example file.jpg) is "
     "renamed to Image_005"},
    {"Пример 2:\n Если шаблон: *_###, то 18й по счету файл (например file.jpg) "
     "переименуется в file_018",
     "Example 2:\n With the pattern *_###, the 18th file (for example file.jpg) is renamed "
     "to file_018"},
    {"Пример 3:\n Если шаблон: Image_^_*_###, то 105й по счету файл (например file.jpg) из "
     "папки МОЯ_ПАПКА переименуется в Image_МОЯ_ПАПКА_file_105",
     "Example 3:\n With the pattern Image_^_*_###, the 105th file (for example file.jpg) in "
     "the folder MY_FOLDER is renamed to Image_MY_FOLDER_file_105"},

    // Shadow and margins.
    {"Настройка тени", "Shadow settings"},
    {"Положение", "Position"},
    {"Цвет, отступ", "Colour, offset"},
    {"Цвет", "Colour"},
    {"Отступ (пикс)", "Offset (pixels)"},
    {"Подгон положения водяного знака", "Watermark position adjustment"},
    {"Отступ (задается в пикселях)", "Margin (in pixels)"},
    {"От горизонтального края", "From the horizontal edge"},
    {"От вертикального края", "From the vertical edge"},
    {"Отступ отсчитывается от угла знака, ближайшего к выбранному положению. Например, для "
     "левого-верхнего положения отступ будет считаться для левого-верхнего угла знака, а для "
     "правого-нижнего положения отступ будет считаться для правого-нижнего угла знака.",
     "The margin is measured from the corner of the mark nearest to the chosen position. "
     "For the top left position, for example, it is measured for the top left corner of the "
     "mark, and for the bottom right position for its bottom right corner."},

    // General settings.
    {"Общие настройки", "General settings"},
    {"Эскизы", "Thumbnails"},
    {"Высокое качество (скорость обработки медленнее)", "High quality (slower)"},
    {"Низкое качество (скорость обработки быстрее)", "Low quality (faster)"},
    {"Без эскизов (наивысшая скорость, для слабых ПК)",
     "No thumbnails (fastest, for slow computers)"},
    {"Размеры эскиза", "Thumbnail size"},
    {"По умолчанию", "Defaults"},

    // Multi-frame split.
    {"Разобрать многокадровый файл", "Split a multi-frame file"},
    {"Имя файла:", "File name:"},
    {"Имя папки, куда поместить кадры:", "Folder for the frames:"},
    {"Разобрать", "Split"},
    {"GIF (*.gif)|*.gif|TIFF (*.tif;*.tiff)|*.tif;*.tiff|ICO, CUR (*.ico;*.cur)|"
     "*.ico;*.cur |All Files (*.*)|*.*||",
     "GIF (*.gif)|*.gif|TIFF (*.tif;*.tiff)|*.tif;*.tiff|ICO, CUR (*.ico;*.cur)|"
     "*.ico;*.cur |All Files (*.*)|*.*||"},
    {"Файл не найден", "File not found"},

    // Conversion.
    {"Выходные файлы заменят исходные файлы, из которых они сделаны, а резервные копии "
     "не создаются.\nИсходные файлы будут потеряны. Заменить их?",
     "The output files would replace the source files they are made from, and backups are "
     "off.\nThe source files would be lost. Replace them?"},
};

TextTableRegistrar reg(kTexts, std::size(kTexts));

}  // namespace
