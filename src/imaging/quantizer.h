// COctreeQuantizer: the adaptive palette of the GIF writer.
//
// An octree colour quantizer after Gervautz and Purgathofer. Every pixel
// colour is filed into a tree whose level L splits bit (7 - L) of red, green
// and blue; leaves sit at level "colour bits". Whenever a new leaf makes the
// tree hold more leaves than the working maximum, the newest node of the
// deepest level that still has children is merged into a leaf.
//
// Use: construct, ProcessImage one or more bitmaps, SetColorTable into a
// zero-filled table of 256 entries, hand that palette to DecreaseBpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"

// One node of the tree, created zero-filled. The sums are 64 bits wide so
// that a leaf collecting many millions of pixels cannot overflow.
struct OctreeNode {
  uint32_t isLeaf;
  uint64_t pixelCount;
  uint64_t redSum;
  uint64_t greenSum;
  uint64_t blueSum;
  uint64_t alphaSum;
  OctreeNode* children[8];  // index (red bit << 2) | (green bit << 1) | blue bit
  OctreeNode* next;         // reducible list of the node's level, newest first
};

class COctreeQuantizer {
 public:
  // maxColors: the number of palette entries wanted (at most 256 are kept);
  // the tree may hold at least 16 leaves while reading. colorBits: the leaf
  // depth, at most 8.
  COctreeQuantizer(uint32_t maxColors, uint32_t colorBits);
  ~COctreeQuantizer();
  COctreeQuantizer(const COctreeQuantizer&) = delete;
  COctreeQuantizer& operator=(const COctreeQuantizer&) = delete;

  // Adds every pixel of a packed device-independent bitmap: BitmapInfoHeader,
  // the colour table the header declares (biClrUsed entries, or 2^bits for 1,
  // 4 and 8 bits when it is 0), then the rows, each padded to four bytes,
  // in storage order. 1, 4 and 8 bit pixels add their colour table entry
  // (red, green, blue, reserved as alpha); 24 bit pixels add blue, green, red
  // with alpha 0. Other depths and compressed bitmaps give false and add
  // nothing. size, when known, is the block's length in bytes; a block too
  // short for its header gives false. Indexes beyond the colour table read as
  // black.
  bool ProcessImage(const void* dib, size_t size = SIZE_MAX);

  // Adds one colour.
  void AddColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);

  // Writes the palette into table (256 entries, zero-filled by the caller).
  // 16 or more output colours: one entry per leaf in depth-first order,
  // children 0 to 7, each component its sum / pixel count. Fewer: the leaves
  // are collected the same way; when they are more than the output colours,
  // entry j is the pixel-count weighted average of the leaves with index
  // j*n/colours .. (j+1)*n/colours - 1 (n leaves); 0 output colours write
  // nothing.
  void SetColorTable(RGBQuad* table) const;

  uint32_t GetLeafCount() const { return leafCount_; }
  uint32_t GetMaxColors() const { return maxColors_; }
  uint32_t GetOutputColors() const { return outputColors_; }
  uint32_t GetColorBits() const { return colorBits_; }

 private:
  struct LeafInfo {
    RGBQuad colour;
    uint64_t count;
  };
  bool Reduce();  // false when no node is left to merge
  static void FreeNode(OctreeNode* node);
  static void CollectLeaves(const OctreeNode* node, LeafInfo* out, uint32_t& n, uint32_t limit);
  OctreeNode* NewNode(uint32_t level);

  OctreeNode* root_ = nullptr;
  uint32_t leafCount_ = 0;
  OctreeNode* reducible_[9] = {};
  uint32_t maxColors_;     // working maximum of leaves
  uint32_t outputColors_;  // entries written by SetColorTable
  uint32_t colorBits_;
  // The leaf the last colour went to: a run of equal pixels skips the walk.
  // Cleared whenever a reduction frees nodes.
  OctreeNode* lastLeaf_ = nullptr;
  uint32_t lastColour_ = 0;
};
