package org.korvane.mardel;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/**
 * Run with HotSpot's libjsig.so preloaded: a native handler chained behind
 * the JVM's own must survive a call, and go on catching faults.
 */
class SignalChainTest {
    private static native boolean chaining();

    private static native void installHandler();

    private static native boolean handlerInstalled();

    private static native boolean faultCaught();

    @Test
    void chainedHandlerSurvivesCalls() {
        System.loadLibrary("signal_chain");
        assertTrue(chaining(), "libjsig.so is not loaded");
        installHandler();
        assertTrue(faultCaught(), "the first fault");
        FakeHal.reset();
        FakeHal.answer(FakeHal.UUID, "CHAINED\n".getBytes(UTF_8));
        for (int i = 0; i < 3; i++) {
            assertEquals("CHAINED", OperatingSystem.getOSUUID());
        }
        assertTrue(handlerInstalled(), "the handler is gone after a call");
        assertTrue(faultCaught(), "a fault after a call");
    }
}
