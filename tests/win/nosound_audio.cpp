// With no sound server reachable: both directions fail cleanly.
#include <gtest/gtest.h>
#include "tests/win/kit.h"
#include "audio/audio.h"

TEST(NoSound, CaptureStartReportsTheMicrophoneAndLeavesNothingOpen) {
    WAVEFORMATEX f = {WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
    HWAVEIN h = NULL;
    MMRESULT r = waveInOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL);
    if (r == MMSYSERR_NOERROR) waveInClose(h);
    ASSERT_NE(r, (MMRESULT)MMSYSERR_NOERROR)
        << "a recording device opened: the test environment is wrong";

    char want[256];
    snprintf(want, sizeof want,
             "Could not open microphone (MMRESULT %u). Check that a recording device is "
             "connected and not in use.",
             (unsigned)r);
    for (int i = 0; i < 3; i++) {
        char err[256] = "untouched";
        EXPECT_EQ(audio_capture_start(NULL, NULL, err, sizeof err), 0);
        EXPECT_STREQ(err, want);
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
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.said()[0].rfind("Microphone error|Could not open microphone (MMRESULT ", 0), 0u)
        << boxes.said()[0];
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
