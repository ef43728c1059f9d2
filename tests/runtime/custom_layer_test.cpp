// The custom layer record: its state before a layer is loaded, where compiled code reads an
// event, and the image test the views make before entering a block.
#include <gtest/gtest.h>

#include <stddef.h>

#include "runtime/runtime.h"

namespace {

struct Custom_Layer_Environment : ::testing::Environment {
    void SetUp() override { ASSERT_TRUE(init_memory(PROGRAM_EDITOR)); }
};
::testing::Environment* const custom_layer_environment = ::testing::AddGlobalTestEnvironment(new Custom_Layer_Environment);

}  // namespace

TEST(CustomLayer, StartsWithoutAnImageAndReadsEventsWhereCompiledCodeWritesThem) {
    init_custom_layer();
    EXPECT_EQ(custom_layer.image, nullptr);
    EXPECT_EQ(custom_layer.mapping.kind, 1u);
    EXPECT_EQ(custom_layer.mapping.size, 0u);
    EXPECT_EQ(custom_layer.watched_sources.count, 0u);  // nothing for the file watcher to poll

    // Compiled code reads events by these offsets.
    EXPECT_EQ(offsetof(Custom_Layer_Event, kind), 0u);
    EXPECT_EQ(offsetof(Custom_Layer_Event, code), 4u);
    EXPECT_EQ(offsetof(Custom_Layer_Event, modifiers), 8u);
}

TEST(CustomLayer, BlocksAreEnteredOnlyInAnAmd64ImageThatHasThem) {
    init_custom_layer();
    EXPECT_FALSE(custom_layer_has_block(LAYER_HAS_SYNTAX));
    u8 image[104] = {};
    struct Case {
        const char* name;
        u32 cpu;
        u8 flags;
        u8 asked;
        b8 expected;
    };
    static const Case cases[] = {
        {"has it", 1, LAYER_HAS_SYNTAX | LAYER_HAS_EVENTS, LAYER_HAS_SYNTAX, true},
        {"lacks it", 1, LAYER_HAS_EVENTS | LAYER_HAS_ON_LOAD, LAYER_HAS_SYNTAX, false},
        {"another processor", 2, LAYER_HAS_EVENTS, LAYER_HAS_EVENTS, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store_u32(image + 8, c.cpu);
        image[100] = c.flags;
        custom_layer.image = image;
        EXPECT_EQ(custom_layer_has_block(c.asked), c.expected);
    }
    custom_layer.image = nullptr;
}
