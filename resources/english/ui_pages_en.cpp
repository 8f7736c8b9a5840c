// English texts of the five settings pages.
#include <iterator>

#include "resources/english/texts.h"

namespace {

const TextPair kTexts[] = {
    // Page titles (the stage buttons).
    {"Размеры", "Size"},
    {"Поворот/отражение", "Rotate/flip"},
    {"Метаданные", "Metadata"},
    {"Водяные знаки", "Watermarks"},
    {"Фильтры", "Filters"},

    // Size page.
    {"Процент от исходного:", "Percent of original:"},
    {"Пиксели:", "Pixels:"},
    {"Миллиметры:", "Millimetres:"},
    {"ширина", "width"},
    {"высота", "height"},
    {"Стандартные", "Standard"},
    {"Взять...", "Pick..."},
    {"Пропорции:", "Proportions:"},
    {"Разрешение, пикc/дюйм", "Resolution, pixels/inch"},
    {"Метод преобразования", "Resampling method"},
    {"автоматически", "automatic"},
    {"не сохранять", "do not keep"},
    {"высоту по ширине", "height by width"},
    {"ширину по высоте", "width by height"},
    {"Ближайший цвет (низкое качество)", "Nearest colour (low quality)"},
    {"Билинейный", "Bilinear"},
    {"Бикубический (резкий)", "Bicubic (sharp)"},
    {"Бикубический (мягкий)", "Bicubic (soft)"},
    {"B-сплайн (размытие)", "B-spline (blur)"},
    {"Lanzcos (резкий)", "Lanczos (sharp)"},
    {"Hermit", "Hermite"},
    {"Изменять размер изображения в процентах от исходного",
     "Resize the image by a percentage of its original size"},
    {"Изменять размер изображения до указанного (в пикселях)",
     "Resize the image to the given size (in pixels)"},
    {"Изменять размер изображения до указанного (в сантиметрах)",
     "Resize the image to the given size (in centimetres)"},
    {"автоматически: Вписывать изображение в новые размеры, сохраняя пропорции\n"
     "не сохранять: Не сохранять пропорции\n"
     "высоту по ширине: Пропорционально подгонять высоту по заданной ширине\n"
     "ширину по высоте: Пропорционально подгонять ширину по заданной высоте",
     "automatic: Fit the image into the new size, keeping its proportions\n"
     "do not keep: Do not keep the proportions\n"
     "height by width: Fit the height proportionally to the given width\n"
     "width by height: Fit the width proportionally to the given height"},
    {"Выберите метод преобразования рисунка при изменении размеров. Разные методы имеют "
     "различную скорость и качество работы.",
     "Choose how the picture is resampled when its size changes. The methods differ in speed "
     "and quality."},
    {"Выбрать один из популярных размеров", "Pick one of the popular sizes"},

    // Rotate/flip page.
    {"Поворот", "Rotation"},
    {"Отражение", "Flip"},
    {"Влево", "Left"},
    {"Вправо", "Right"},
    {"Нет", "None"},
    {"EXIF", "EXIF"},
    {"Гориз.", "Horiz."},
    {"Верт.", "Vert."},
    {"Поворот на 90 градусов влево", "Rotate 90 degrees left"},
    {"Поворот на 90 градусов вправо", "Rotate 90 degrees right"},
    {"Разворот на 180 градусов", "Rotate 180 degrees"},
    {"Оставить как есть, не поворачивать", "Leave as is, do not rotate"},
    {"Поворот по данным от камеры (если они есть в файле)",
     "Rotate by the camera's data (when the file has them)"},
    {"Отразить слева направо", "Mirror left to right"},
    {"Отразить сверху вниз", "Flip top to bottom"},
    {"Оставить как есть, не отражать", "Leave as is, do not flip"},

    // Metadata page.
    {"Сохранять существующие метаданные", "Keep the existing metadata"},
    {"Изменять/добавлять сведения пользователя. Если раздел метаданных отсутствует, он будет "
     "создан.",
     "Change/add the user's information. A missing metadata section is created."},
    {"* Для JPEG, PNG", "* For JPEG, PNG"},
    {"Описание", "Description"},
    {"Автор", "Author"},
    {"Copyright", "Copyright"},

    // Watermarks page.
    {"Включить водяные знаки", "Enable watermarks"},
    {"Использовать тэг (если есть)", "Use a tag (if present)"},
    {"Использовать время создания файла", "Use the file's creation time"},
    {"Использовать картинку", "Use a picture"},
    {"(не выбрана)", "(none chosen)"},
    {"Не удалось прочитать картинку водяного знака %s. Файлы записываются без водяного знака.",
     "The watermark picture %s could not be read. The files are written without a watermark."},
    {"Использовать текст", "Use a text"},
    {"Название", "Title"},
    {"CopyRight", "CopyRight"},
    {"Дата съемки", "Date taken"},
    {"Только дату", "Date only"},
    {"Только время", "Time only"},
    {"Дату и время", "Date and time"},
    {"Время и дату", "Time and date"},
    {"Прозрачный цвет", "Transparent colour"},
    {"Текст:", "Text:"},
    {"Положение", "Position"},
    {"Шрифт...", "Font..."},
    {"С тенью", "Shadow"},
    {"Прозрачность", "Opacity"},
    {"% (0-прозрачно, 100-нет)", "% (0 invisible, 100 opaque)"},
    {"Тест", "Test"},
    {"&Не использовать прозрачный цвет", "&Do not use a transparent colour"},
    {"&Использовать прозрачный цвет...", "&Use a transparent colour..."},
    {"Шрифт", "Font"},
    {"Цвет:", "Colour:"},
    {"Цвет", "Colour"},
    {"Отмена", "Cancel"},
    {"Включить возможность впечатывания информации (текста или рисунка) в каждый из "
     "преобразуемых файлов",
     "Stamp information (a text or a picture) into every converted file"},
    {"Впечатывать на изображение значения из тега метаданных (если они присутствуют в файле). "
     "\nВНИМАНИЕ! Если на вкладке `Метаданные` выбран режим `Изменять/добавлять`, то значения "
     "будут взяты из этой вкладки!",
     "Stamp the value of a metadata tag (when the file has it) onto the image. \nNOTE: when "
     "`Change/add` is chosen on the `Metadata` page, the values are taken from that page!"},
    {"Впечатывать на изображение дату и/или время создания файла. Эта дата/время не "
     "обязательно совпадает со временем съемки.",
     "Stamp the file's creation date and/or time onto the image. It is not necessarily the "
     "time the picture was taken."},
    {"Впечатывать на изображение выбранную картинку. Если фон картинки прозрачный (бывает у "
     "файлов PNG и GIF), он останется прозрачным.",
     "Stamp the chosen picture onto the image. A transparent background of the picture (PNG "
     "and GIF files can have one) stays transparent."},
    {"Выберите цвет, который станет прозрачным при впечатывании картинки (например, если "
     "картинка на белом фоне - выберите белый цвет, и впечатается только картинка без фона)",
     "Choose the colour that becomes transparent when the picture is stamped (for example, "
     "for a picture on white choose white, and only the picture without its background is "
     "stamped)"},
    {"Впечатывать на изображение текст, введенный пользователем",
     "Stamp the text you type onto the image"},
    {"Выберите положение водяного знака на изображении",
     "Choose where the watermark is placed on the image"},
    {"Выберите шрифт для текста водяного знака", "Choose the font of the watermark's text"},
    {"Выберите степень прозрачности водяного знака. При 0% его вообще не будет видно, а при "
     "100% он будет абсолютно непрозрачен.",
     "Choose the watermark's opacity. At 0% it cannot be seen at all, at 100% it is fully "
     "opaque."},
    {"Подгон положения водяного знака (задание отступов)",
     "Adjust the watermark's position (margins)"},
    {"Настройки тени", "Shadow settings"},

    // Filters page.
    {"Доступные фильтры", "Available filters"},
    {"Вверх", "Up"},
    {"Вниз", "Down"},
    {"Отметьте используемые фильтры. Фильтры применяются в порядке следования.\n"
     "Двойной щелчок открывает настройки фильтра.",
     "Check the filters to use. Filters are applied in list order.\n"
     "A double click opens a filter's settings."},
};

TextTableRegistrar reg(kTexts, std::size(kTexts));

}  // namespace
