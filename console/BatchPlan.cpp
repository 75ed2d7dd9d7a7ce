#include "BatchPlan.h"

#include "KindPass.h"
#include "Messages.h"
#include "ProcessingModes.h"
#include "StreamEnds.h"
#include "platform/Files.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace sigrun {

namespace {

using KeyIndex = std::pair<platform::FileKey, uint32_t>;

} // namespace

BatchPlan::BatchPlan(const CommandLine& line, bool outputIsFolder)
    : line(line), outputIsFolder(outputIsFolder), group(line.inputs.size()),
      written(line.inputs.size(), 0)
{
    for (std::size_t i = 0; i < group.size(); ++i)
        group[i] = static_cast<uint32_t>(i);
}

bool BatchPlan::OutputName(std::size_t i, char (&name)[kTextSize]) const
{
    const std::string& input = line.inputs[i];
    std::memset(name, 0, sizeof name);
    if (line.outputGiven && !outputIsFolder)
    {
        if (line.output.size() >= sizeof name)
            return false;
        std::memcpy(name, line.output.c_str(), line.output.size());
        return true;
    }
    if (input.size() >= kTextSize)
        return false;
    const char* folder = line.outputGiven ? line.output.c_str() : nullptr;
    return MakeOutputName(line.settings.mode, input.c_str(), folder, name);
}

int BatchPlan::Check(InputFile& input, const SigkitCalls& api)
{
    const int status = CheckOutputs();
    return status != kExitSuccess ? status : CheckValues(input, api);
}

// Outputs of one file, by its identity where it exists, else by its folder's and its name, make
// one group. An output that is another input of the run would be written over before or after
// that input is read: refused. An output that is its own input is refused at its turn.
int BatchPlan::CheckOutputs()
{
    std::vector<KeyIndex> inputs;
    std::vector<KeyIndex> outputs;
    inputs.reserve(group.size());
    outputs.reserve(group.size());
    // Standard input and output are no files: they meet no other name.
    for (uint32_t i = 0; i < group.size(); ++i)
    {
        if (!IsStandardStream(line.inputs[i]))
            inputs.emplace_back(platform::KeyOf(line.inputs[i]), i);
        char name[kTextSize];
        if (OutputName(i, name) && !IsStandardStream(name))
            outputs.emplace_back(platform::KeyOf(name), i);
    }
    std::sort(inputs.begin(), inputs.end());
    std::sort(outputs.begin(), outputs.end());
    for (std::size_t k = 1; k < outputs.size(); ++k)
        if (outputs[k].first == outputs[k - 1].first)
            group[outputs[k].second] = group[outputs[k - 1].second];
    for (const auto& [key, i] : outputs)
    {
        const auto first = std::lower_bound(inputs.begin(), inputs.end(), KeyIndex{key, 0});
        for (auto it = first; it != inputs.end() && it->first == key; ++it)
            if (it->second != i)
            {
                char name[kTextSize];
                OutputName(i, name);
                return Fail(kExitUsage, "output " + Quoted(name) + " of " + Quoted(line.inputs[i]) +
                                            " is also the input " +
                                            Quoted(line.inputs[it->second]) +
                                            " of this run, which it would overwrite");
            }
    }
    return kExitSuccess;
}

// A value that can give no output from an input refuses the batch as an unusable option would.
int BatchPlan::CheckValues(InputFile& input, const SigkitCalls& api) const
{
    const ModeRow& row = Mode(line.settings.mode);
    bool depends = IsChainMode(line.settings.mode) || line.settings.encoding != 0;
    for (int v = 0; v < row.valueCount; ++v)
        depends = depends || DependsOnInput(row.values[v]);
    if (!depends)
        return kExitSuccess;
    if ((IsChainMode(line.settings.mode) || line.settings.encoding != 0) &&
        api.FirstMissing() != nullptr)
        return Missing(api.FirstMissing());
    for (const std::string& name : line.inputs)
    {
        // Standard input is read once, when it is processed; its values are checked then.
        if (IsStandardStream(name))
            continue;
        std::string failure;
        const bool opened = input.Open(name.c_str(), failure);
        input.Close();
        if (!opened || UnsupportedReason(input.Description(), true) != nullptr)
            continue;
        if (UsesKindPass(line.settings, input.Description()))
        {
            const std::string refusal =
                KindRefusal(api, line.settings, name.c_str(), input.Description());
            if (!refusal.empty())
                return Fail(kExitUsage, refusal);
            continue;
        }
        for (int v = 0; v < row.valueCount; ++v)
        {
            const std::string useless = OptionUselessFor(row.values[v], line.settings, name.c_str(),
                                                         input.Description().sampleRate);
            if (!useless.empty())
                return Fail(kExitUsage, useless);
        }
    }
    return kExitSuccess;
}

} // namespace sigrun
