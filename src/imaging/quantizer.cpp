#include "imaging/quantizer.h"

#include <cstdlib>
#include <cstring>

namespace {

inline uint32_t PackColour(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16) | (uint32_t(a) << 24);
}

}  // namespace

COctreeQuantizer::COctreeQuantizer(uint32_t maxColors, uint32_t colorBits) {
  // A palette has at most 256 entries; more leaves could not be written.
  outputColors_ = maxColors > 256 ? 256 : maxColors;
  maxColors_ = outputColors_ < 16 ? 16 : outputColors_;
  colorBits_ = colorBits > 8 ? 8 : colorBits;
}

COctreeQuantizer::~COctreeQuantizer() { FreeNode(root_); }

void COctreeQuantizer::FreeNode(OctreeNode* node) {
  if (!node) return;
  for (OctreeNode* child : node->children) FreeNode(child);
  std::free(node);
}

OctreeNode* COctreeQuantizer::NewNode(uint32_t level) {
  auto* node = static_cast<OctreeNode*>(std::calloc(1, sizeof(OctreeNode)));
  if (!node) std::abort();  // as operator new would fail, without an exception
  if (level == colorBits_) {
    node->isLeaf = 1;
    ++leafCount_;
  } else {
    node->next = reducible_[level];
    reducible_[level] = node;
  }
  return node;
}

void COctreeQuantizer::AddColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
  const uint32_t packed = PackColour(red, green, blue, alpha);
  OctreeNode* node;
  if (lastLeaf_ && lastColour_ == packed) {
    node = lastLeaf_;
  } else {
    OctreeNode** slot = &root_;
    uint32_t level = 0;
    for (;;) {
      if (!*slot) *slot = NewNode(level);
      node = *slot;
      if (node->isLeaf) break;
      const unsigned shift = 7 - level;
      const unsigned index = (((red >> shift) & 1u) << 2) | (((green >> shift) & 1u) << 1) |
                             ((blue >> shift) & 1u);
      slot = &node->children[index];
      ++level;
    }
    lastLeaf_ = node;
    lastColour_ = packed;
  }
  node->pixelCount += 1;
  node->redSum += red;
  node->greenSum += green;
  node->blueSum += blue;
  node->alphaSum += alpha;
  while (leafCount_ > maxColors_ && Reduce()) {
  }
}

bool COctreeQuantizer::Reduce() {
  int level = int(colorBits_) - 1;
  while (level > 0 && !reducible_[level]) --level;
  if (level < 0 || !reducible_[level]) return false;  // nothing left to merge
  OctreeNode* node = reducible_[level];
  reducible_[level] = node->next;
  node->next = nullptr;
  uint32_t merged = 0;
  for (OctreeNode*& child : node->children) {
    if (!child) continue;
    node->pixelCount += child->pixelCount;
    node->redSum += child->redSum;
    node->greenSum += child->greenSum;
    node->blueSum += child->blueSum;
    node->alphaSum += child->alphaSum;
    FreeNode(child);
    child = nullptr;
    ++merged;
  }
  node->isLeaf = 1;
  leafCount_ = leafCount_ + 1 - merged;
  lastLeaf_ = nullptr;
  return true;
}

bool COctreeQuantizer::ProcessImage(const void* dib, size_t size) {
  if (!dib || size < sizeof(BitmapInfoHeader)) return false;
  BitmapInfoHeader header;
  std::memcpy(&header, dib, sizeof header);
  const uint32_t bits = header.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return false;
  if (header.biCompression != 0 || header.biSize < sizeof(BitmapInfoHeader) || header.biWidth < 0)
    return false;

  uint64_t tableEntries = header.biClrUsed;
  if (tableEntries == 0 && bits <= 8) tableEntries = uint64_t(1) << bits;
  const uint64_t width = uint64_t(header.biWidth);
  const uint64_t height =
      header.biHeight < 0 ? uint64_t(-int64_t(header.biHeight)) : uint64_t(header.biHeight);
  const uint64_t rowBytes = ((width * bits + 31) / 32) * 4;
  const uint64_t pixelOffset = uint64_t(header.biSize) + tableEntries * 4;
  if (size != SIZE_MAX) {
    if (pixelOffset > size || (rowBytes != 0 && height > (size - pixelOffset) / rowBytes))
      return false;
  }
  const auto* base = static_cast<const uint8_t*>(dib);

  // The colour table as packed colours; entries the bitmap does not declare
  // stay black.
  uint32_t table[256] = {};
  if (bits <= 8) {
    const uint64_t n = tableEntries < 256 ? tableEntries : 256;
    const uint8_t* entry = base + header.biSize;
    for (uint64_t i = 0; i < n; ++i, entry += 4)
      table[i] = PackColour(entry[2], entry[1], entry[0], entry[3]);
  }
  auto addPacked = [this](uint32_t c) {
    AddColor(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24));
  };

  const uint8_t* row = base + pixelOffset;
  for (uint64_t y = 0; y < height; ++y, row += rowBytes) {
    switch (bits) {
      case 24: {
        const uint8_t* p = row;
        for (uint64_t x = 0; x < width; ++x, p += 3) AddColor(p[2], p[1], p[0], 0);
        break;
      }
      case 8:
        for (uint64_t x = 0; x < width; ++x) addPacked(table[row[x]]);
        break;
      case 4:
        for (uint64_t x = 0; x < width; ++x) {
          const uint8_t byte = row[x >> 1];
          addPacked(table[(x & 1) ? (byte & 0x0F) : (byte >> 4)]);
        }
        break;
      case 1:
        for (uint64_t x = 0; x < width; ++x)
          addPacked(table[(row[x >> 3] >> (7 - (x & 7))) & 1]);
        break;
    }
  }
  return true;
}

void COctreeQuantizer::CollectLeaves(const OctreeNode* node, LeafInfo* out, uint32_t& n,
                                     uint32_t limit) {
  if (!node || n >= limit) return;
  if (node->isLeaf) {
    const uint64_t count = node->pixelCount;
    LeafInfo& leaf = out[n++];
    leaf.count = count;
    if (count != 0) {
      leaf.colour.red = uint8_t(node->redSum / count);
      leaf.colour.green = uint8_t(node->greenSum / count);
      leaf.colour.blue = uint8_t(node->blueSum / count);
      leaf.colour.reserved = uint8_t(node->alphaSum / count);
    }
    return;
  }
  for (const OctreeNode* child : node->children) CollectLeaves(child, out, n, limit);
}

void COctreeQuantizer::SetColorTable(RGBQuad* table) const {
  if (!table) return;
  LeafInfo leaves[256] = {};
  uint32_t n = 0;
  CollectLeaves(root_, leaves, n, 256);
  if (outputColors_ >= 16 || outputColors_ >= n) {
    for (uint32_t i = 0; i < n && i < 256; ++i) table[i] = leaves[i].colour;
    return;
  }
  if (outputColors_ == 0) return;
  for (uint32_t j = 0; j < outputColors_; ++j) {
    const uint32_t first = j * n / outputColors_;
    const uint32_t last = (j + 1) * n / outputColors_;
    uint64_t total = 0, red = 0, green = 0, blue = 0, alpha = 0;
    for (uint32_t i = first; i < last; ++i) {
      const LeafInfo& leaf = leaves[i];
      total += leaf.count;
      red += leaf.count * leaf.colour.red;
      green += leaf.count * leaf.colour.green;
      blue += leaf.count * leaf.colour.blue;
      alpha += leaf.count * leaf.colour.reserved;
    }
    if (total == 0) continue;
    table[j].red = uint8_t(red / total);
    table[j].green = uint8_t(green / total);
    table[j].blue = uint8_t(blue / total);
    table[j].reserved = uint8_t(alpha / total);
  }
}
