// Memory for decoded pictures (see picturebuffers.h).
#include "picturebuffers.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/macros.h>
#include <libavutil/pixdesc.h>
}

namespace tarnvox {

namespace {

// Lines and planes start on this boundary, the widest any of libavcodec's vector code needs.
constexpr size_t kAlign = 64;
// Room after each plane: libavcodec's motion compensation may read a little past a plane's end.
constexpr size_t kPlanePadding = 16 + kAlign;

std::atomic<size_t> g_carved{0}; // bytes of the buffers of every live pool

// The buffers of one pool, carved one after the other from 2 MiB aligned mappings marked for
// huge pages (the kernel falls back to small pages when it has none). Unmapped with the pool.
struct Slab {
    static constexpr size_t kHuge = 2 * 1024 * 1024;
    static constexpr size_t kChunk = 4 * kHuge;
    // Successive slots start at different offsets within a 4 KiB page, so pictures decoded from
    // one another do not compete for the same cache sets.
    static constexpr size_t kStagger = 7 * kAlign;

    explicit Slab(size_t size) : slot(FFALIGN(size, kAlign) + kStagger) {}
    ~Slab()
    {
        for (auto [base, length] : chunks)
            munmap(base, length);
        g_carved -= carved;
    }

    uint8_t* take()
    {
        if (chunks.empty() || room < slot) {
            chunks.reserve(chunks.size() + 1); // may throw: before anything is mapped
            const size_t length = std::max(kChunk, FFALIGN(slot, kHuge)) + kHuge;
            void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (base == MAP_FAILED)
                return nullptr;
            chunks.emplace_back(base, length);
            const auto start = FFALIGN(reinterpret_cast<uintptr_t>(base), kHuge);
            next = reinterpret_cast<uint8_t*>(start);
            room = length - (start - reinterpret_cast<uintptr_t>(base));
            madvise(next, room / kHuge * kHuge, MADV_HUGEPAGE);
        }
        uint8_t* p = next;
        next += slot;
        room -= slot;
        carved += slot;
        g_carved += slot;
        return p;
    }

    const size_t slot;
    std::vector<std::pair<void*, size_t>> chunks;
    uint8_t* next = nullptr;
    size_t room = 0;   // bytes left after next in the last mapping
    size_t carved = 0; // bytes of the buffers made so far
};

void keepInSlab(void*, uint8_t*) {}

// libavcodec asks for a new buffer of the pool (under the pool's lock). Null when memory runs out.
AVBufferRef* slabBuffer(void* opaque, size_t size)
{
    uint8_t* p = nullptr;
    try {
        p = static_cast<Slab*>(opaque)->take();
    } catch (const std::bad_alloc&) {
    }
    return p ? av_buffer_create(p, size, keepInSlab, nullptr, 0) : nullptr;
}

void freeSlab(void* opaque)
{
    delete static_cast<Slab*>(opaque);
}

bool canAttach(const AVCodecContext* ctx)
{
    return ctx->codec_type == AVMEDIA_TYPE_VIDEO && ctx->codec &&
           (ctx->codec->capabilities & AV_CODEC_CAP_DR1);
}

} // namespace

size_t PictureBuffers::madeBytes()
{
    return g_carved.load();
}

PictureBuffers::~PictureBuffers()
{
    av_buffer_pool_uninit(&pool_);
}

void PictureBuffers::attach(AVCodecContext* ctx)
{
    if (!canAttach(ctx))
        return;
    ctx->opaque = this;
    ctx->get_buffer2 = getBuffer;
}

int PictureBuffers::getBuffer(AVCodecContext* ctx, AVFrame* frame, int flags)
{
    return static_cast<PictureBuffers*>(ctx->opaque)->get(ctx, frame, flags);
}

void PictureBuffers::relayout(AVCodecContext* ctx, const AVFrame* frame)
{
    av_buffer_pool_uninit(&pool_);
    format_ = frame->format;
    width_ = frame->width;
    height_ = frame->height;
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                                 AV_PIX_FMT_FLAG_BITSTREAM)))
        return;
    // The decoder writes whole macroblocks and its edges: the size it asks for, not the picture's.
    int w = frame->width, h = frame->height;
    int unused[AV_NUM_DATA_POINTERS];
    avcodec_align_dimensions2(ctx, &w, &h, unused);
    if (w <= 0 || h <= 0)
        return;
    int linesize[4] = {};
    for (;;) {
        if (av_image_fill_linesizes(linesize, format, w) < 0)
            return;
        bool aligned = true;
        for (int l : linesize)
            aligned = aligned && l % static_cast<int>(kAlign) == 0;
        if (aligned)
            break;
        w += w & ~(w - 1); // the next multiple of a larger power of two
    }
    ptrdiff_t lines[4] = {linesize[0], linesize[1], linesize[2], linesize[3]};
    size_t sizes[4] = {};
    if (av_image_fill_plane_sizes(sizes, format, h, lines) < 0)
        return;
    size_t at = 0;
    planes_ = 0;
    for (int i = 0; i < 4 && sizes[i] > 0; ++i, ++planes_) {
        offset_[i] = at;
        linesize_[i] = linesize[i];
        at = FFALIGN(at + sizes[i] + kPlanePadding, kAlign);
    }
    if (planes_ == 0)
        return;
    auto* slab = new (std::nothrow) Slab(at);
    pool_ = slab ? av_buffer_pool_init2(at, slab, slabBuffer, freeSlab) : nullptr;
    if (!pool_)
        delete slab;
}

int PictureBuffers::get(AVCodecContext* ctx, AVFrame* frame, int flags)
{
    if (frame->format != format_ || frame->width != width_ || frame->height != height_)
        relayout(ctx, frame);
    if (!pool_) // a layout these buffers do not serve: libavcodec's own
        return avcodec_default_get_buffer2(ctx, frame, flags);
    frame->buf[0] = av_buffer_pool_get(pool_);
    if (!frame->buf[0])
        return AVERROR(ENOMEM);
    for (int i = 0; i < planes_; ++i) {
        frame->data[i] = frame->buf[0]->data + offset_[i];
        frame->linesize[i] = linesize_[i];
    }
    frame->extended_data = frame->data;
    return 0;
}

} // namespace tarnvox
