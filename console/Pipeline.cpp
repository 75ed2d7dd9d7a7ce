#include "Pipeline.h"

#include "PipelineBatches.h"

#include "platform/Signals.h"
#include "platform/Threads.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace sigrun {

namespace {

using namespace pipeline;

// Batches on their way between the two threads at most. A thread that waits for the other one
// waits for half of them (or for all there will be), not for each: on a busy machine every wait
// can cost a turn in the scheduler's queue.
constexpr std::size_t kSlots = 8;
constexpr std::size_t kHalf = kSlots / 2;
// The batches timed to settle the two threads' shares (see Pumping::Settle): 32 (2 MiB at most,
// a thirtieth of a minute of 16-bit I/Q at 240 kHz) after the first rounds of the slots, whose
// first uses are slower for reasons of their own (memory touched for the first time, caches).
constexpr std::size_t kTrialFirst = 2 * kSlots;
constexpr std::size_t kTrialEnd = kTrialFirst + 32;

// What the two threads share. Batch k lives in batches[k % kSlots] from its first block read
// until its last block written. Under the lock: the batches handed over and those whose input
// the processing thread is done with; the blocks of the pass whose output is ready (`made`) and
// those whose output is in the file (`written`).
struct Exchange
{
    std::array<Batch, kSlots> batches;
    std::mutex mutex;
    std::condition_variable processing; // the processing thread waits on it
    std::condition_variable pumping;    // the reading and writing one does
    std::size_t handed = 0;
    bool inputEnded = false; // nothing more will be handed over
    std::size_t taken = 0;
    std::size_t done = 0; // batches whose every output is handed over
    long long made = 0;
    long long written = 0;
    // Who waits, and for what: a thread is woken only when what it waits for has come.
    bool processingWaits = false;
    std::size_t processingWakesAt = 0; // batches handed over
    bool awaitingWrites = false;       // the processing thread waits until written == made
    bool pumpingWaits = false;
    std::size_t pumpingWakesAt = 0; // batches done
    bool pumpingWantsTake = false;  // ... or the input it lent taken
    bool quit = false;
    // The processing thread refused a batch's first part: no later batch is to be split.
    bool prepareRefused = false;
    int32_t sampleBytes = 0; // of one stored sample of the input
    // The processing thread's: the batch after the last one it processed on its block.
    std::size_t workerNext = 0;

    // The processing thread: every batch handed over, in order, until told to quit.
    void Process(ProcessingBlock& block, platform::ProcessorAvoided& away)
    {
        for (std::size_t next = 0;; ++next)
        {
            {
                std::unique_lock lock(mutex);
                // Out of work: waits for half the batches, unless the input has ended or the
                // other thread waits too.
                if (handed == next)
                {
                    processingWaits = true;
                    processingWakesAt = next + kHalf;
                    processing.wait(lock, [&] {
                        return quit || handed >= next + kHalf ||
                               (handed > next && (inputEnded || pumpingWaits));
                    });
                    processingWaits = false;
                }
                if (quit)
                    return;
            }
            if (!ProcessBatch(block, batches[next % kSlots], next))
                return;
            away.Release();
        }
    }

    // Processes the blocks of the batch into its output copy and hands their outputs over; an
    // output that does not fit there is handed over as it comes and waited on. False when told
    // to quit.
    bool ProcessBatch(ProcessingBlock& block, Batch& batch, std::size_t number)
    {
        const Clock::time_point started = Clock::now();
        std::size_t shown = 0; // pieces handed over
        const std::size_t count = batch.pieces.size();
        if (batch.byReader)
        {
            // Processed by the other thread: its outputs are passed on in their turn.
            Took(number);
            return Hand(batch, shown, count, false, number + 1);
        }
        // After a batch that the other thread took, the block first sees the input before this
        // one (a failure there shows on the first block, given nothing then).
        if (number != workerNext)
            Drop(block, batch.prefix);
        workerNext = number + 1;
        batch.out.clear();
        if (batch.split == Split::WorkerPrepares)
        {
            if (!PrepareRefused() && Prepare(block, batch, sampleBytes))
            {
                // No output yet: the other thread finishes the batch before writing it.
                batch.workerSeconds = SecondsSince(started);
                Took(number);
                return Hand(batch, shown, count, false, number + 1);
            }
            // From here on every batch is processed whole, here: once the batches before
            // this one are finished by the other thread.
            RefusePrepare();
            if (!Hand(batch, shown, 0, true))
                return false;
        }
        for (std::size_t i = 0; i < count; ++i)
        {
            Piece& piece = batch.pieces[i];
            const void* out = nullptr;
            int32_t outBytes = 0;
            if (!batch.joined)
                block.Process(piece.lent != nullptr ? piece.lent : batch.in.data() + piece.inAt,
                              piece.inBytes, out, outBytes);
            else if (i == 0) // its bytes were prepared: not given again
                block.Process(nullptr, static_cast<int32_t>(batch.in.size()), out, outBytes);
            piece.outBytes = std::max(outBytes, 0);
            piece.failed = block.Failure();
            if (i + 1 == count)
                Took(number);
            piece.outAt = batch.out.size();
            if (!Append(batch.out, out, piece.outBytes))
            {
                // What came before goes out first, then the copy starts afresh.
                if (!Hand(batch, shown, i, true))
                    return false;
                batch.out.clear();
                piece.outAt = 0;
                if (!Append(batch.out, out, piece.outBytes))
                    piece.out = out; // lent until written
            }
            // A block failed on is the last one: its output is written, then the pass ends.
            if (piece.failed != 0)
            {
                Hand(batch, shown, i + 1, true);
                return false;
            }
            if (piece.out != nullptr && !Hand(batch, shown, i + 1, true))
                return false;
        }
        batch.workerSeconds = SecondsSince(started);
        return Hand(batch, shown, count, false, number + 1);
    }

    bool PrepareRefused()
    {
        std::lock_guard lock(mutex);
        return prepareRefused;
    }

    void RefusePrepare()
    {
        std::lock_guard lock(mutex);
        prepareRefused = true;
    }

    // Hands over the outputs of the pieces before end; with wait, waits until they are written.
    // False when told to quit.
    bool Hand(Batch& batch, std::size_t& shown, std::size_t end, bool wait,
              std::size_t batchesDone = 0)
    {
        const std::size_t from = shown;
        for (; shown < end; ++shown)
            if (batch.pieces[shown].out == nullptr)
                batch.pieces[shown].out = batch.out.data() + batch.pieces[shown].outAt;
        std::unique_lock lock(mutex);
        made += static_cast<long long>(end - from);
        done = std::max(done, batchesDone);
        awaitingWrites = wait;
        // The other thread is woken with the lock let go, so that it need not wait for it.
        const bool wake = pumpingWaits && (wait || done >= pumpingWakesAt);
        lock.unlock();
        if (wake)
            pumping.notify_one();
        if (!wait)
            return true;
        lock.lock();
        processing.wait(lock, [&] { return quit || written == made; });
        awaitingWrites = false;
        return !quit;
    }

    void Took(std::size_t number)
    {
        std::unique_lock lock(mutex);
        taken = number + 1;
        const bool wake = pumpingWaits && pumpingWantsTake;
        lock.unlock();
        if (wake)
            pumping.notify_one();
    }

    void Quit()
    {
        {
            std::lock_guard lock(mutex);
            quit = true;
        }
        processing.notify_one();
    }
};

// The processing thread, told to quit and joined however the pump ends.
class Worker
{
public:
    Worker(Exchange& exchange, ProcessingBlock& block) : exchange(exchange)
    {
        // Stop signals go to the pumping thread, the one that looks at them.
        const platform::StopSignalsHeld held;
        // It starts away from this thread's processor (see ProcessorAvoided).
        thread = std::thread(
            [shared = &exchange, processing = &block, reading = platform::CurrentProcessor()] {
                platform::ProcessorAvoided away(reading);
                shared->Process(*processing, away);
            });
    }
    ~Worker()
    {
        exchange.Quit();
        thread.join();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

private:
    Exchange& exchange;
    std::thread thread;
};

// The reading and writing thread's side: the batches it has handed over and written, and the
// outputs it has passed on.
struct Pumping
{
    Pumping(Exchange& shared, ProcessingBlock& processing, Split first, bool isForced,
            std::optional<Split> afterTrial, SecondBlock second)
        : exchange(shared), block(processing), split(first), settled(isForced),
          afterTrial(afterTrial), sharing(second, shared.sampleBytes)
    {
    }

    Exchange& exchange;
    ProcessingBlock& block;
    // How the next batch is split: first this thread prepares, and once the trial's batches are
    // written the shares measured settle it (unless forced); Whole once a batch is not split.
    Split split;
    bool settled;
    std::optional<Split> afterTrial; // forced in place of the trial's choice
    double trialIo = 0.0; // the trial's seconds: reading and writing, preparing, finishing
    double trialPrepare = 0.0;
    double trialFinish = 0.0;
    SharedBatches sharing; // the batches it takes on a second block, if any
    bool inputEnded = false;
    bool lentPending = false; // the last batch handed over lends its last block, not yet taken
    std::size_t handed = 0;   // batches
    std::size_t freed = 0;    // batches written to the end
    std::size_t piece = 0;    // the next piece to write in batch `freed`
    long long blocks = 0;     // blocks handed over
    long long written = 0;

    // Reads the next batch and hands it over.
    void HandOver(InputFile& input)
    {
        Batch& batch = exchange.batches[handed % kSlots];
        Clock::time_point started = Clock::now();
        lentPending = Fill(input, batch, inputEnded);
        batch.ioSeconds = SecondsSince(started);
        batch.readerSeconds = 0.0;
        batch.workerSeconds = 0.0;
        // Once a batch is not split, no later one may be.
        if (split == Split::WorkerPrepares && exchange.PrepareRefused())
            split = Split::Whole;
        if (split == Split::ReaderPrepares)
        {
            started = Clock::now();
            if (Prepare(block, batch, exchange.sampleBytes))
                batch.readerSeconds = SecondsSince(started);
            else
                split = Split::Whole;
        }
        batch.split = batch.pieces.empty() ? Split::Whole : split;
        if (sharing.Active() && !batch.pieces.empty())
            sharing.Offer(batch, handed, split == Split::Whole);
        std::unique_lock lock(exchange.mutex);
        exchange.inputEnded = inputEnded;
        if (!batch.pieces.empty())
        {
            blocks += static_cast<long long>(batch.pieces.size());
            exchange.handed = ++handed;
        }
        const bool wake =
            exchange.processingWaits && (handed >= exchange.processingWakesAt || inputEnded);
        lock.unlock();
        if (wake)
            exchange.processing.notify_one();
    }

    // True when there is an output to write (after waiting for it, if need be).
    bool AwaitOutput()
    {
        // Nothing to write and nothing to read: waits for the output of half the batches,
        // or of all there are, or of what the processing thread waits to see written.
        std::unique_lock lock(exchange.mutex);
        if (exchange.made == written && !(lentPending && exchange.taken >= handed))
        {
            // The processing thread, waiting for half the batches, goes on with fewer.
            exchange.pumpingWaits = true;
            exchange.pumpingWakesAt = std::min(freed + kHalf, handed);
            exchange.pumpingWantsTake = lentPending;
            if (exchange.processingWaits)
            {
                lock.unlock();
                exchange.processing.notify_one();
                lock.lock();
            }
            exchange.pumping.wait(lock, [&] {
                if (lentPending && exchange.taken >= handed)
                    return true;
                return exchange.made > written &&
                       (exchange.awaitingWrites || exchange.done >= freed + kHalf ||
                        exchange.done == handed);
            });
            exchange.pumpingWaits = false;
        }
        if (lentPending && exchange.taken >= handed)
            lentPending = false;
        return exchange.made != written;
    }

    // Writes the next block's output, in order (a batch that the processing thread prepared is
    // finished here first). False when it cannot be written.
    bool WriteNext(BlockSink& output, PassProgress& progress, Pumped& pumped)
    {
        Batch& batch = exchange.batches[freed % kSlots];
        Piece& next = batch.pieces[piece];
        if (piece == 0 && batch.split == Split::WorkerPrepares && batch.joined)
        {
            const Clock::time_point started = Clock::now();
            const void* out = nullptr;
            int32_t outBytes = 0;
            block.Process(nullptr, static_cast<int32_t>(batch.in.size()), out, outBytes);
            next.out = out;
            next.outBytes = std::max(outBytes, 0);
            next.failed = block.Failure();
            batch.readerSeconds = SecondsSince(started);
        }
        const Clock::time_point started = Clock::now();
        if (!output.Write(next.out, next.outBytes, pumped.error))
        {
            pumped.end = PumpEnd::WriteFailed;
            return false;
        }
        batch.ioSeconds += SecondsSince(started);
        pumped.bytesOut += next.outBytes;
        if (next.failed != 0)
        {
            pumped.end = PumpEnd::ProcessFailed;
            pumped.error = next.failed;
            return false;
        }
        pumped.bytesIn += next.inBytes;
        progress.Show(pumped.bytesIn);
        std::size_t count = 1;
        if (batch.joined && piece == 0)
        {
            // The other blocks of a joined batch have no output: those handed over are passed
            // with the first, their progress shown block by block.
            std::size_t more = 0;
            {
                std::lock_guard lock(exchange.mutex);
                more = static_cast<std::size_t>(exchange.made - written - 1);
            }
            more = std::min(more, batch.pieces.size() - 1);
            for (std::size_t k = 1; k <= more; ++k)
            {
                pumped.bytesIn += batch.pieces[k].inBytes;
                progress.Show(pumped.bytesIn);
            }
            count += more;
        }
        piece += count;
        if (piece == batch.pieces.size())
        {
            piece = 0;
            if (freed >= kTrialFirst && freed < kTrialEnd)
            {
                trialIo += batch.ioSeconds;
                trialPrepare += batch.readerSeconds;
                trialFinish += batch.workerSeconds;
            }
            if (++freed == kTrialEnd && !settled)
                Settle();
            if (sharing.Active() && batch.split == Split::Whole)
                sharing.Written(batch);
        }
        std::unique_lock lock(exchange.mutex);
        written += static_cast<long long>(count);
        exchange.written = written;
        const bool wake = exchange.awaitingWrites && written == exchange.made;
        lock.unlock();
        if (wake)
            exchange.processing.notify_one();
        return true;
    }

    // The split of the batches from now on, from the trial's seconds (this thread preparing):
    // the one whose busier thread has the least to do. This thread also reads and writes.
    void Settle()
    {
        settled = true;
        if (split != Split::ReaderPrepares)
            return; // not split at all
        split = afterTrial ? *afterTrial : ChooseSplit(trialIo, trialPrepare, trialFinish);
    }
};

} // namespace

std::optional<Pumped> PumpTwoThreads(InputFile& input, ProcessingBlock& block, BlockSink& output,
                                     PassProgress& progress, SecondBlock second)
{
    Exchange exchange;
    std::optional<Worker> worker;
    try
    {
        for (Batch& batch : exchange.batches)
            batch.pieces.reserve(kBatchBlocks);
        worker.emplace(exchange, block);
    }
    catch (const std::exception&)
    {
        return std::nullopt; // no second thread to be had; nothing was read yet
    }

    Pumped pumped;
    exchange.sampleBytes = input.Description().bitsPerSample / 8;
    Split split = Split::ReaderPrepares;
    std::optional<Split> afterTrial;
    const bool forced = ForcedSplit(split, afterTrial);
    Pumping pumping(exchange, block, split, forced, afterTrial,
                    second.memoryBytes > 0 ? second : SecondBlock{});
    for (;;)
    {
        if (platform::StopSignal() != 0)
        {
            pumped.end = PumpEnd::Stopped;
            break;
        }
        if (!pumping.inputEnded && !pumping.lentPending && pumping.handed - pumping.freed < kSlots)
        {
            pumping.HandOver(input);
            continue;
        }
        if (pumping.inputEnded && pumping.written == pumping.blocks)
            break;
        if (!pumping.AwaitOutput())
            continue;
        if (!pumping.WriteNext(output, progress, pumped))
            break;
    }
    worker.reset();
    progress.Clear();
    // A signal that came with the last block still stops the pass before the output is published.
    if (pumped.end == PumpEnd::Drained && platform::StopSignal() != 0)
        pumped.end = PumpEnd::Stopped;
    return pumped;
}

} // namespace sigrun
