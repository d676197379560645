// With no sound server reachable: both directions fail cleanly.
#include <gtest/gtest.h>
#include "tests/win/kit.h"
#include "audio/audio.h"

TEST(NoSound, CaptureStartReportsTheMicrophoneAndLeavesNothingOpen) {
    for (int i = 0; i < 2; i++) { // and again: the failure left nothing behind
        char err[256] = "untouched";
        EXPECT_EQ(audio_capture_start(NULL, NULL, err, sizeof err), 0);
        std::string e = err;
        EXPECT_TRUE(e.rfind("Could not open microphone (MMRESULT ", 0) == 0 &&
                    e.find("). Check that a recording device is connected") != std::string::npos)
            << e;
        EXPECT_EQ(audio_capture_is_running(), 0);
    }
    // A small error buffer is cut, never overrun.
    char small[12];
    memset(small, 'x', sizeof small);
    EXPECT_EQ(audio_capture_start(NULL, NULL, small, 8), 0);
    EXPECT_STREQ(small, "Could n");
    EXPECT_EQ(small[8], 'x');
    EXPECT_EQ(audio_capture_start(NULL, NULL, NULL, 0), 0);
    audio_capture_stop();
}

TEST(NoSound, TheReceivePageShowsTheMicrophoneErrorAndStaysIdle) {
    shell_app();
    BoxWatch boxes;
    rx_toggle_listen();
    ASSERT_EQ(boxes.boxes().size(), 1u); // the text is the one above
    EXPECT_EQ(boxes.boxes()[0].title, "Microphone error");
    EXPECT_TRUE(boxes.boxes()[0].error_icon);
    EXPECT_EQ(drv_text(g_app.rx.listen_button), "Start listening");
    EXPECT_EQ(drv_text(g_app.rx.status_label), "Microphone idle");
}

TEST(NoSound, PlaybackFailsQuietlyAndItsThreadEnds) {
    float s[4410] = {0};
    audio_play(s, 4410);
    EXPECT_TRUE(drv_until([] { return audio_play_threads_alive() == 0; }, 5000));
    audio_shutdown();
}
