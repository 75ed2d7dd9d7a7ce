#include "ProcessingBlock.h"

#include "Records.h"

#include <type_traits>

namespace sigrun {

namespace {

// A block of one family: its handle and the data and free exports of its record shape.
template <typename Params, typename Handle> class FamilyBlock final : public ProcessingBlock
{
public:
    using Init = int32_t (*)(Params, Handle**);
    using Data = int32_t (*)(Handle*, const void*, int32_t, const void**, int32_t*);
    using Free = int32_t (*)(Handle*);

    FamilyBlock(Data data, Free release, Handle* handle, BlockPrepareFn prepare)
        : data(data), release(release), prepare(prepare), handle(handle)
    {
    }
    ~FamilyBlock() override { Release(); }

    void Process(const void* in, int32_t inBytes, const void*& out, int32_t& outBytes) override
    {
        outBytes = 0;
        // The library refuses a block it cannot process (no memory for its output): the pass
        // ends there rather than go on without that block's output.
        if (failed == 0 && data(handle, in, inBytes, &out, &outBytes) != 1)
            failed = kBlockRefused;
    }

    int Failure() const override { return failed; }

    bool Prepare(const void* in, int32_t inBytes) override
    {
        if constexpr (std::is_same_v<Handle, BlockHandle>)
            return prepare != nullptr && handle != nullptr && prepare(handle, in, inBytes) == 1;
        return false;
    }

    void Release() override
    {
        if (handle != nullptr)
            release(handle);
        handle = nullptr;
    }

private:
    Data data;
    Free release;
    BlockPrepareFn prepare;
    Handle* handle;
    int failed = 0;
};

template <typename Params, typename Handle>
std::unique_ptr<ProcessingBlock> StartFamily(const FamilyExports& exports, const Params& params,
                                             std::string& failure)
{
    using Block = FamilyBlock<Params, Handle>;
    // Every export is known before anything is built, so that every way out releases what was.
    for (const auto& [address, name] : {std::pair{exports.init, &exports.initName},
                                        {exports.data, &exports.dataName},
                                        {exports.release, &exports.freeName}})
        if (address == nullptr)
        {
            failure = MissingExport(*name);
            return nullptr;
        }
    Handle* handle = nullptr;
    if (As<typename Block::Init>(exports.init)(params, &handle) != 1 || handle == nullptr)
    {
        failure = "cannot set up " + exports.prefix + " processing";
        return nullptr;
    }
    return std::make_unique<Block>(As<typename Block::Data>(exports.data),
                                   As<typename Block::Free>(exports.release), handle,
                                   exports.prepare);
}

} // namespace

std::unique_ptr<ProcessingBlock> StartBlockFamily(const FamilyExports& exports,
                                                  const Settings& settings,
                                                  const WavDescription& input, std::string& failure)
{
    return StartFamily<BlockParams, BlockHandle>(exports, MakeBlockParams(settings, input),
                                                 failure);
}

std::unique_ptr<ProcessingBlock> StartIqFamily(const FamilyExports& exports,
                                               const Settings& settings,
                                               const WavDescription& input, std::string& failure)
{
    return StartFamily<IqParams, IqHandle>(exports, MakeIqParams(settings, input), failure);
}

std::size_t InvertMemoryBytes(const WavDescription& input)
{
    constexpr std::size_t kMemorySamples = 1024;
    const int bits = input.bitsPerSample;
    if (input.formatTag != 1 || input.channels != 1 ||
        (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return 0;
    return kMemorySamples * static_cast<std::size_t>(bits / 8);
}

std::unique_ptr<ProcessingBlock> StartInvertFamily(const FamilyExports& exports,
                                                   const Settings& settings,
                                                   const WavDescription& input,
                                                   std::string& failure)
{
    return StartFamily<InvertParams, InvertHandle>(exports, MakeInvertParams(settings, input),
                                                   failure);
}

} // namespace sigrun
