#include "encoder/batch.hpp"

#include "common/messages.hpp"
#include "common/paths.hpp"
#include "encoder/command_line.hpp"
#include "encoder/modes.hpp"
#include "encoder/output_dir.hpp"

#include <cstdio>

namespace tarvik {

int run_batch_command(Context& ctx, const std::vector<std::string>& positionals) {
    std::string input_dir = positionals[0];
    if (input_dir.size() > 1 && input_dir.back() == '/') input_dir.pop_back();
    std::printf("Input directory = \"%s\"\n", input_dir.c_str());
    print_defaults(ctx);

    std::string output_dir = input_dir;
    if (positionals.size() > 1) {
        if (!output_dir_acceptable(positionals[1], 621)) return kExitFailure;
        output_dir = positionals[1];
        if (make_dir_path(output_dir, true) > 0)
            std::printf("\nDirectory created: \"%s\"\n", output_dir.c_str());
    }
    return run_batch(ctx, input_dir, output_dir);
}

int run_batch(Context&, const std::string&, const std::string&) {
    std::printf("Batch conversion is not available yet.\n");
    return kExitFailure;
}

} // namespace tarvik
