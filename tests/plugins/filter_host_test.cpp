// The filter plug-in host: discovery rules over libraries built by the
// test with the system's C compiler, running filters in the job, their
// settings sections, and the sample filter library of the program folder.
#include "plugins/filter_host.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "engine/stages.h"
#include "services/strings.h"
#include "test_support.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

std::string FilterHeaderDir() { return std::string(LUMARO_TEST_DATA) + "/../../filters"; }

// Compiles C source into folder/name.
void BuildLibrary(const std::string& folder, const std::string& name, const std::string& source) {
  const std::string c = folder + "/" + name + ".c";
  testing_support::WriteFileText(c, "#include <stdlib.h>\n#include <string.h>\n"
                                    "#include \"lumaro_filter.h\"\n" + source);
  const std::string command = "cc -shared -fPIC -O1 -o " + Quote(folder + "/" + name) + " -I" +
                              Quote(FilterHeaderDir()) + " " + Quote(c) + " 2>&1";
  int status = -1;
  const std::string out = RunOutput(command, &status);
  ASSERT_EQ(status, 0) << out;
  fs::remove(c);
}

// The main test library: "Add" twice with one GUID, a name without a
// function, filters that change the bitmap in place, return 0, replace the
// bitmap, and one without a GUID export.
const char kMainLibrary[] = R"(
static const LumaroGuid g1 = {0x11111111, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
static const LumaroGuid g2 = {0x22222222, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2}};
static const LumaroGuid g3 = {0x33333333, 3, 3, {3, 3, 3, 3, 3, 3, 3, 3}};
static const LumaroGuid g4 = {0x44444444, 4, 4, {4, 4, 4, 4, 4, 4, 4, 4}};
static char lastPath[1024];
static char* dup(const char* s) { char* d = malloc(strlen(s) + 1); strcpy(d, s); return d; }

static void forPixels(void* block, int (*fn)(int)) {
  LumaroBitmapInfoHeader* h = block;
  uint8_t* bits = LumaroDibBits(block);
  uint32_t stride = LumaroDibRowBytes(h->biWidth, h->biBitCount);
  for (int y = 0; y < h->biHeight; ++y)
    for (int x = 0; x < h->biWidth; ++x) { uint8_t* p = bits + y * stride + x * 3; p[0] = (uint8_t)fn(p[0]); }
}
static int add10(int v) { return v + 10; }
static int twice(int v) { return v * 2; }
static int zero(int v) { (void)v; return 0; }

LUMARO_FILTER_EXPORT int IsTesselFiltersDLL(void) { return 7; }
LUMARO_FILTER_EXPORT void GetFiltersNames(char** names) { *names = dup(";Add;Add;NoFunc;;Double;Zero;Replace;NoGuid;"); }

LUMARO_FILTER_EXPORT int Add(void** bmp, LumaroFilterParams* p) { (void)p; forPixels(*bmp, add10); return 1; }
LUMARO_FILTER_EXPORT const void* AddGUID(void* s) { (void)s; return &g1; }
LUMARO_FILTER_EXPORT int AddSetup(void* w, const char* const* path) { (void)w; (void)path; return 1; }

LUMARO_FILTER_EXPORT const void* NoFuncGUID(void* s) { (void)s; return &g4; }

LUMARO_FILTER_EXPORT int Double(void** bmp, LumaroFilterParams* p) { (void)p; forPixels(*bmp, twice); return 1; }
LUMARO_FILTER_EXPORT const void* DoubleGUID(void* s) { memcpy(s, &g2, 16); return s; }
LUMARO_FILTER_EXPORT void DoubleDesc(char** d) { *d = dup("Doubles the blue"); }
LUMARO_FILTER_EXPORT int DoubleSetup(void* w, const char* const* path) {
  (void)w; strncpy(lastPath, *path, sizeof lastPath - 1); return 0;
}
LUMARO_FILTER_EXPORT const char* LastSetupPath(void) { return lastPath; }

/* Scribbles over the bitmap but reports no change. */
LUMARO_FILTER_EXPORT int Zero(void** bmp, LumaroFilterParams* p) { (void)p; forPixels(*bmp, zero); return 0; }
LUMARO_FILTER_EXPORT const void* ZeroGUID(void* s) { (void)s; return &g3; }
LUMARO_FILTER_EXPORT void ZeroDesc(char** d) { *d = 0; }

/* Hands back a new 2 x 1 bitmap; writes the job's output format into it. */
LUMARO_FILTER_EXPORT int Replace(void** bmp, LumaroFilterParams* p) {
  size_t size = sizeof(LumaroBitmapInfoHeader) + 8;
  LumaroBitmapInfoHeader* h = calloc(1, size);
  uint8_t* px = (uint8_t*)(h + 1);
  h->biSize = 40; h->biWidth = 2; h->biHeight = 1; h->biPlanes = 1; h->biBitCount = 24;
  px[0] = 1; px[1] = 2; px[2] = 3; px[3] = (uint8_t)p->OutputFormat; px[4] = (uint8_t)p->Size; px[5] = 6;
  free(*bmp);
  *bmp = h;
  return 1;
}
LUMARO_FILTER_EXPORT const void* ReplaceGUID(void* s) { (void)s; return &g4; }

LUMARO_FILTER_EXPORT int NoGuid(void** bmp, LumaroFilterParams* p) { (void)bmp; (void)p; return 0; }
)";

// A second library that reuses the GUID of "Add": accepted.
const char kOtherLibrary[] = R"(
static const LumaroGuid g1 = {0x11111111, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
LUMARO_FILTER_EXPORT int IsTesselFiltersDLL(void) { return 1; }
LUMARO_FILTER_EXPORT void GetFiltersNames(char** names) { *names = strdup("Same"); }
LUMARO_FILTER_EXPORT int Same(void** bmp, LumaroFilterParams* p) { (void)bmp; (void)p; return 0; }
LUMARO_FILTER_EXPORT const void* SameGUID(void* s) { (void)s; return &g1; }
)";

// Libraries that contribute nothing.
const char kNotFilters[] = R"(
LUMARO_FILTER_EXPORT void GetFiltersNames(char** names) { *names = strdup("Ghost"); }
LUMARO_FILTER_EXPORT int Ghost(void** bmp, LumaroFilterParams* p) { (void)bmp; (void)p; return 1; }
)";
const char kSaysNo[] = R"(
LUMARO_FILTER_EXPORT int IsTesselFiltersDLL(void) { return 0; }
LUMARO_FILTER_EXPORT void GetFiltersNames(char** names) { *names = strdup("Ghost2"); }
LUMARO_FILTER_EXPORT int Ghost2(void** bmp, LumaroFilterParams* p) { (void)bmp; (void)p; return 1; }
)";
const char kNoNames[] = R"(
LUMARO_FILTER_EXPORT int IsTesselFiltersDLL(void) { return 1; }
LUMARO_FILTER_EXPORT int Ghost3(void** bmp, LumaroFilterParams* p) { (void)bmp; (void)p; return 1; }
)";

class FilterHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir;
    BuildLibrary(folder_->str(), "main.so", kMainLibrary);
    BuildLibrary(folder_->str(), "other.so", kOtherLibrary);
    BuildLibrary(folder_->str(), "notfilters.so", kNotFilters);
    BuildLibrary(folder_->str(), "saysno.so", kSaysNo);
    BuildLibrary(folder_->str(), "nonames.so", kNoNames);
    // Not libraries, or not named as one.
    testing_support::WriteFileText(*folder_ / "junk.so", "not a library");
    fs::copy_file(*folder_ / "other.so", *folder_ / "other.so.1");
    fs::create_directory(*folder_ / "folder.so");
    Convert("-size 16x16 xc:blue " + Quote(*folder_ / "main.png"));
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  const CFilterEntry* Find(const CFilterList& list, const std::string& name) {
    for (const auto& e : list)
      if (e->Name == name) return e.get();
    return nullptr;
  }

  static TempDir* folder_;
};

TempDir* FilterHostTest::folder_ = nullptr;

TEST_F(FilterHostTest, DiscoveryRules) {
  CFilterHost host;
  CFilterList list;
  EXPECT_EQ(host.LoadFilters(folder_->str(), list), 6);
  std::vector<std::string> names;
  for (const auto& e : list) names.push_back(e->Name);
  std::vector<std::string> main(names.begin(), names.end());
  main.erase(std::remove(main.begin(), main.end(), "Same"), main.end());
  // The library's names in its own order; the second "Add" and "NoFunc"
  // are gone.
  EXPECT_EQ(main, (std::vector<std::string>{"Add", "Double", "Zero", "Replace", "NoGuid"}));
  ASSERT_NE(Find(list, "Same"), nullptr) << "another library may repeat a GUID";
  EXPECT_EQ(Find(list, "Same")->Id, Find(list, "Add")->Id);
  EXPECT_EQ(host.LibraryCount(), 3u);  // main, other, nonames

  ASSERT_EQ(host.Messages().size(), 1u);
  EXPECT_EQ(host.Messages()[0], "Фильтр с таким GUID уже существует. Фильтр Add загружен не будет.");
  // Filters are loaded before the language library: the message speaks the
  // language chosen afterwards.
  ASSERT_TRUE(LoadLanguageLibrary(std::string(LUMARO_PROGRAM_DIR) + "/"));
  const std::vector<std::string> english = host.Messages();
  ReleaseLanguageLibrary();
  EXPECT_EQ(english, (std::vector<std::string>{
                         "A filter with this GUID already exists. The filter Add will not be loaded."}));

  const CFilterEntry* d = Find(list, "Double");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(GuidToRegistryString(d->Id), "{22222222-0002-0002-0202-020202020202}");
  EXPECT_EQ(d->Description, "Doubles the blue");
  EXPECT_EQ(d->LibraryPath, *folder_ / "main.so");
  EXPECT_FALSE(d->Enabled);
  EXPECT_EQ(Find(list, "Zero")->Description, "");
  EXPECT_EQ(Find(list, "NoGuid")->Id, Guid{});
  // Icons: the PNG beside the library, shared by its filters.
  ASSERT_EQ(host.Icons().size(), 1u);
  EXPECT_EQ(host.Icons()[0], *folder_ / "main.png");
  EXPECT_EQ(d->IconIndex, 0);
  EXPECT_EQ(Find(list, "Add")->IconIndex, 0);
  EXPECT_EQ(Find(list, "Same")->IconIndex, -1);
  EXPECT_EQ(Find(list, "Add")->Module, d->Module);
}

TEST_F(FilterHostTest, EmptyAndMissingFolders) {
  TempDir empty;
  CFilterHost host;
  CFilterList list;
  EXPECT_EQ(host.LoadFilters(empty.str(), list), 0);
  EXPECT_EQ(host.LoadFilters(empty / "missing", list), 0);
  EXPECT_EQ(host.LibraryCount(), 0u);
}

TEST_F(FilterHostTest, SetupCalls) {
  CFilterHost host;
  CFilterList list;
  host.LoadFilters(folder_->str() + "/", list);
  const CFilterEntry* d = Find(list, "Double");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->Setup(nullptr, FilterSettingsPath("/opt/lumaro/")));
  auto last = reinterpret_cast<const char* (*)()>(dlsym(d->Module, "LastSetupPath"));
  ASSERT_NE(last, nullptr);
  EXPECT_STREQ(last(), "/opt/lumaro/Tessel.ini");
  EXPECT_FALSE(Find(list, "Add")->Setup(nullptr, "x")) << "its Setup reports a failure";
  EXPECT_FALSE(Find(list, "Zero")->Setup(nullptr, "x")) << "no Setup export";
  CFilterEntry bare;
  void* bitmap = nullptr;
  EXPECT_EQ(bare.Apply(&bitmap, nullptr), 0);
}

CImage Picture() {
  CImage image;
  image.Create(4, 3, 24);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) image.SetPixelColor(x, y, RGBQuad{uint8_t(10 * x + y), 50, 60, 0});
  return image;
}

TEST_F(FilterHostTest, RunsEnabledFiltersInListOrder) {
  CFilterHost host;
  CFilterList list;
  host.LoadFilters(folder_->str(), list);
  auto position = [&](const std::string& name) {
    for (size_t i = 0; i < list.size(); ++i)
      if (list[i]->Name == name) return i;
    return list.size();
  };
  auto enableOnly = [&](std::initializer_list<const char*> names) {
    for (auto& e : list) e->Enabled = false;
    for (const char* n : names) list[position(n)]->Enabled = true;
  };
  FilterParams params{12, 0, 1};

  // Add then Double: (b + 10) * 2.
  std::swap(list[0], list[position("Add")]);
  std::swap(list[1], list[position("Double")]);
  enableOnly({"Add", "Double"});
  CImage image = Picture();
  RunFilterList(list, image, params);
  EXPECT_EQ(image.GetPixelColor(2, 1, false).blue, (21 + 10) * 2);
  EXPECT_EQ(image.GetPixelColor(2, 1, false).green, 50);
  // Double then Add: b * 2 + 10.
  std::swap(list[0], list[1]);
  image = Picture();
  RunFilterList(list, image, params);
  EXPECT_EQ(image.GetPixelColor(2, 1, false).blue, 21 * 2 + 10);

  // Disabled filters are skipped.
  enableOnly({});
  image = Picture();
  RunFilterList(list, image, params);
  EXPECT_EQ(image.GetPixelColor(2, 1, false).blue, 21);

  // A filter that answers 0 leaves the image exactly as it was, whatever
  // it did to the bitmap.
  enableOnly({"Zero", "NoGuid"});
  image = Picture();
  image.SetXDPI(300);
  RunFilterList(list, image, params);
  const CImage original = Picture();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_TRUE(Near(image.GetPixelColor(x, y, false), original.GetPixelColor(x, y, false), 0));

  // A replaced bitmap becomes the image; the resolution stays.
  enableOnly({"Replace"});
  RunFilterList(list, image, params);
  ASSERT_EQ(image.GetWidth(), 2);
  ASSERT_EQ(image.GetHeight(), 1);
  EXPECT_TRUE(Near(image.GetPixelColor(0, 0, false), RGBQuad{1, 2, 3, 0}, 0));
  EXPECT_TRUE(Near(image.GetPixelColor(1, 0, false), RGBQuad{1, 12, 6, 0}, 0))
      << "the filter sees the job's parameter block";
  EXPECT_EQ(image.GetXDPI(), 300);
}

TEST_F(FilterHostTest, JobStagesUseTheSettingsOutputFormat) {
  CFilterHost host;
  CFilterList list;
  host.LoadFilters(folder_->str(), list);
  for (auto& e : list) e->Enabled = e->Name == "Replace";
  CSettings& s = FreshSettings();
  s.OutputFormat = 4;
  CJobStages stages(s, &list);
  EXPECT_EQ(stages.Params().Size, 12u);
  EXPECT_EQ(stages.Params().OutputFormat, 4u);
  CImage image = Picture();
  stages.RunFilters(image);
  EXPECT_EQ(image.GetPixelColor(1, 0, false).blue, 4);
  CJobStages none(s, nullptr);
  none.RunFilters(image);  // no list: nothing happens
  EXPECT_EQ(image.GetWidth(), 2);
}

TEST_F(FilterHostTest, SettingsFileKeepsOrderAndSwitches) {
  // Only the main library: its GUIDs are distinct.
  TempDir one;
  fs::copy_file(*folder_ / "main.so", one / "main.so");
  CSettings& s = FreshSettings();
  CFilterHost host;
  CFilterList list;
  host.LoadFilters(one.str(), list);
  ASSERT_EQ(list.size(), 5u);
  // Replace first, then the others in reverse; Double and Replace on.
  std::reverse(list.begin(), list.end());
  std::rotate(list.begin(), list.begin() + 1, list.end());
  for (auto& e : list) e->Enabled = e->Name == "Double" || e->Name == "Replace";
  std::vector<std::string> order;
  for (auto& e : list) order.push_back(e->Name);
  s.SetFilterList(&list);
  ASSERT_TRUE(s.SaveToFile(one / "Lumaro.ini")) << s.GetLastError();

  CFilterList again;
  host.LoadFilters(one.str(), again);
  s.SetFilterList(&again);
  s.LoadFromFile(one / "Lumaro.ini");
  s.SetFilterList(nullptr);
  std::vector<std::string> loaded;
  for (auto& e : again) {
    loaded.push_back(e->Name);
    EXPECT_EQ(e->Enabled, e->Name == "Double" || e->Name == "Replace") << e->Name;
  }
  EXPECT_EQ(loaded, order);
  const std::string ini = testing_support::ReadFileText(one / "Lumaro.ini");
  EXPECT_NE(ini.find("[{22222222-0002-0002-0202-020202020202}]"), std::string::npos) << ini;
}

// ---- the sample filter library ----------------------------------------------------

class SampleFilters : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.LoadFilters(LUMARO_PROGRAM_DIR, list_);
    for (const char* name : {"Grayscale", "Sepia", "Negative", "Sharpen", "AutoLevels"})
      ASSERT_NE(Entry(name), nullptr) << name;
  }
  CFilterEntry* Entry(const std::string& name) {
    for (auto& e : list_)
      if (e->Name == name && e->LibraryPath.find("lumaro_filters.so") != std::string::npos)
        return e.get();
    return nullptr;
  }
  CImage Run(const std::string& name, CImage image) {
    for (auto& e : list_) e->Enabled = e.get() == Entry(name);
    FilterParams params{12, 0, 0};
    RunFilterList(list_, image, params);
    return image;
  }
  CFilterHost host_;
  CFilterList list_;
};

TEST_F(SampleFilters, IdentitiesAndDescriptions) {
  std::vector<Guid> ids;
  for (const char* name : {"Grayscale", "Sepia", "Negative", "Sharpen", "AutoLevels"}) {
    const CFilterEntry* e = Entry(name);
    EXPECT_FALSE(e->Description.empty()) << name;
    EXPECT_NE(e->Id, Guid{}) << name;
    for (const Guid& g : ids) EXPECT_NE(g, e->Id) << name;
    ids.push_back(e->Id);
    ASSERT_GE(e->IconIndex, 0);
    EXPECT_EQ(fs::path(host_.Icons()[size_t(e->IconIndex)]).filename(), "lumaro_filters.png");
  }
  EXPECT_NE(Entry("Sharpen")->SetupProc, nullptr);
  EXPECT_EQ(Entry("Negative")->SetupProc, nullptr);
}

TEST_F(SampleFilters, PixelResults) {
  CImage image = Picture();
  CImage negative = Run("Negative", image);
  EXPECT_TRUE(Near(negative.GetPixelColor(2, 1, false), RGBQuad{255 - 21, 205, 195, 0}, 0));

  CImage grey = Run("Grayscale", Solid(3, 2, RGBQuad{0, 0, 255, 0}));
  EXPECT_TRUE(Near(grey.GetPixelColor(1, 1, false), RGBQuad{76, 76, 76, 0}, 1));

  CImage sepia = Run("Sepia", Solid(2, 2, RGBQuad{255, 255, 255, 0}));
  EXPECT_TRUE(Near(sepia.GetPixelColor(0, 0, false), RGBQuad{239, 255, 255, 0}, 1));

  // Auto levels: 50..150 spread to 0..255.
  CImage levels;
  levels.Create(2, 1, 24);
  levels.SetPixelColor(0, 0, RGBQuad{50, 50, 50, 0});
  levels.SetPixelColor(1, 0, RGBQuad{150, 150, 150, 0});
  levels = Run("AutoLevels", levels);
  EXPECT_TRUE(Near(levels.GetPixelColor(0, 0, false), RGBQuad{0, 0, 0, 0}, 0));
  EXPECT_TRUE(Near(levels.GetPixelColor(1, 0, false), RGBQuad{255, 255, 255, 0}, 0));

  // Palette pictures: the palette is filtered.
  CImage palette;
  palette.Create(2, 2, 8);
  palette.SetPaletteColor(0, 255, 0, 0);
  palette.SetPixelIndex(0, 0, 0);
  palette = Run("Negative", palette);
  EXPECT_TRUE(Near(palette.GetPixelColor(0, 0, false), RGBQuad{255, 255, 0, 0}, 0));

  // Sharpen hands back a new bitmap: flat areas stay, edges gain contrast.
  CImage edge = Solid(8, 4, RGBQuad{100, 100, 100, 0});
  for (int y = 0; y < 4; ++y)
    for (int x = 4; x < 8; ++x) edge.SetPixelColor(x, y, RGBQuad{150, 150, 150, 0});
  edge = Run("Sharpen", edge);
  ASSERT_EQ(edge.GetWidth(), 8);
  ASSERT_EQ(edge.GetBpp(), 24);
  EXPECT_EQ(edge.GetPixelColor(0, 1, false).red, 100);
  EXPECT_LT(edge.GetPixelColor(3, 1, false).red, 100);
  EXPECT_GT(edge.GetPixelColor(4, 1, false).red, 150);
}

TEST_F(SampleFilters, SharpenSetupStoresItsStrength) {
  TempDir tmp;
  const std::string ini = tmp / "Tessel.ini";
  testing_support::WriteFileText(ini, "[Other]\nKey=1\n\n[Sharpen]\nAmount=5\n");
  // A stand-in for the desktop's dialog tool answers 7.
  fs::create_directory(tmp / "bin");
  testing_support::WriteFileText(tmp / "bin/zenity", "#!/bin/sh\necho 7\n");
  fs::permissions(tmp / "bin/zenity", fs::perms::owner_all);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (tmp / "bin").c_str(), 1);
  const bool stored = Entry("Sharpen")->Setup(nullptr, ini);
  // Without any dialog tool nothing changes.
  fs::remove(tmp / "bin/zenity");
  const bool noTool = Entry("Sharpen")->Setup(nullptr, ini);
  setenv("PATH", oldPath.c_str(), 1);
  EXPECT_TRUE(stored);
  EXPECT_FALSE(noTool);
  EXPECT_EQ(testing_support::ReadFileText(ini), "[Other]\nKey=1\n\n[Sharpen]\nAmount=7\n");
  EXPECT_FALSE(fs::exists(ini + ".tmp"));
}

// The whole job: a filter switched on in the settings runs on every image.
TEST(FilterBatch, EnabledSampleFilterRunsInTheJob) {
  TempDir tmp;
  Convert("-size 20x10 xc:'rgb(10,100,200)' PNG24:" + Quote(tmp / "in.png"));
  // Negative on, auto levels off.
  testing_support::WriteFileText(tmp / "settings.ini",
                                 "[General]\n[{4F1C2A61-7D3E-4B1A-9E52-1C6A3380B103}]\nOn=1\n"
                                 "[{4F1C2A61-7D3E-4B1A-9E52-1C6A3380B105}]\nOn=0\n");
  RunResult r = Lumaro(tmp, "--format png --output " + Quote(tmp / "out") + " " +
                                Quote(tmp / "in.png"));
  ASSERT_EQ(r.status, 0) << r.out;
  CImage out;
  ASSERT_TRUE(out.Load(tmp / "out/in.png"));
  EXPECT_TRUE(Near(out.GetPixelColor(5, 5, false), RGBQuad{55, 155, 245, 0}, 0))
      << Describe(out.GetPixelColor(5, 5, false));
}

}  // namespace
