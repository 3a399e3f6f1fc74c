package org.korvane.mardel;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.function.Supplier;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

class OperatingSystemTest {
    @BeforeEach
    void noAnswers() {
        FakeHal.reset();
    }

    private static byte[] bytes(int... values) {
        byte[] result = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            result[i] = (byte) values[i];
        }
        return result;
    }

    private static String repeat(String text, int times) {
        return String.join("", Collections.nCopies(times, text));
    }

    static Stream<Arguments> answers() {
        Object[][] table = {
            // what it is, the bytes the tool prints, what Java gets
            {"surrounding white space", "  0123-ABCD \n".getBytes(UTF_8), "0123-ABCD"},
            {"white space only", "\n".getBytes(UTF_8), ""},
            {"two- and three-byte forms", "Zürich-日本-ñ\n".getBytes(UTF_8), "Zürich-日本-ñ"},
            {"inner space", "A B\n".getBytes(UTF_8), "A B"},
            {"four-byte sequence", bytes(0x41, 0xf0, 0x9f, 0x98, 0x80, 0x5a), "A\ud83d\ude00Z"},
            {"lowest and highest four-byte", bytes(0xf0, 0x90, 0x80, 0x80, 0xf4, 0x8f, 0xbf, 0xbf),
                "\ud800\udc00\udbff\udfff"},
            {"sequence cut at the end", bytes(0x65, 0x6e, 0x64, 0xe2, 0x82), "end\u00e2\u0082"},
            {"stray continuation byte", bytes(0x80, 0x6c, 0x65, 0x61, 0x64), "\u0080lead"},
            {"lead bytes without their continuations", bytes(0xc3, 0x41, 0xe2, 0x82, 0x42, 0xf0, 0x9f, 0x98, 0x43),
                "\u00c3A\u00e2\u0082B\u00f0\u009f\u0098C"},
            {"overlong and out-of-range four-byte", bytes(0xf0, 0x8f, 0xbf, 0xbf, 0xf4, 0x90, 0x80, 0x80),
                "\u00f0\u008f\u00bf\u00bf\u00f4\u0090\u0080\u0080"},
            {"F5 to FF", bytes(0xf5, 0xf8, 0xfe, 0xff), "\u00f5\u00f8\u00fe\u00ff"},
            {"C0 80 as U+0000", bytes(0x41, 0xc0, 0x80, 0x42), "A\u0000B"},
            {"encoded surrogates", bytes(0xed, 0xa0, 0xbd, 0xed, 0xb8, 0x80), "\ud83d\ude00"},
            {"long value of four-byte sequences", repeat("\ud83d\ude00", 5000).getBytes(UTF_8),
                repeat("\ud83d\ude00", 5000)},
        };
        List<Arguments> cases = new ArrayList<>();
        for (Object[] row : table) {
            cases.add(Arguments.of(row[0], "getOSUUID", FakeHal.UUID, row[1], row[2]));
        }
        Object[] serial = table[4];
        cases.add(Arguments.of(serial[0], "getOSSerialNumber", FakeHal.SERIAL, serial[1], serial[2]));
        return cases.stream();
    }

    private static Supplier<String> method(String name) {
        return name.equals("getOSUUID") ? OperatingSystem::getOSUUID : OperatingSystem::getOSSerialNumber;
    }

    @ParameterizedTest(name = "{1}: {0}")
    @MethodSource("answers")
    void valueReachesJavaWhole(String what, String name, String key, byte[] printed, String expected) {
        FakeHal.answer(key, printed);
        assertEquals(expected, method(name).get());
        assertEquals(Collections.singletonList(FakeHal.arguments(key)), FakeHal.log());
    }

    @Test
    void nullWhenNeitherKeyAnswers() {
        assertNull(OperatingSystem.getOSUUID());
        assertNull(OperatingSystem.getOSSerialNumber());
    }

    @Test
    void serialNumberRunsTheSerialChainOnly() {
        assertNull(OperatingSystem.getOSSerialNumber());
        assertEquals(Arrays.asList(FakeHal.arguments(FakeHal.SERIAL), FakeHal.arguments(FakeHal.SMBIOS_SERIAL)),
                FakeHal.log());

        FakeHal.reset();
        FakeHal.answer(FakeHal.UUID, "WRONG\n".getBytes(UTF_8));
        FakeHal.answer(FakeHal.SMBIOS_SERIAL, "SN-2\n".getBytes(UTF_8));
        assertEquals("SN-2", OperatingSystem.getOSSerialNumber());
    }

    @Test
    void uuidFallsBackToSmbiosKey() {
        FakeHal.answer(FakeHal.SMBIOS_UUID, "U-2\n".getBytes(UTF_8));
        assertEquals("U-2", OperatingSystem.getOSUUID());
        assertEquals(Arrays.asList(FakeHal.arguments(FakeHal.UUID), FakeHal.arguments(FakeHal.SMBIOS_UUID)),
                FakeHal.log());
    }

    @Test
    void threadsCallingBothAtOnceGetExactValues() throws Exception {
        FakeHal.answer(FakeHal.UUID, "UUID-0123\n".getBytes(UTF_8));
        FakeHal.answer(FakeHal.SERIAL, "SERIAL-4567\n".getBytes(UTF_8));
        ExecutorService pool = Executors.newFixedThreadPool(6);
        try {
            List<Future<String>> results = new ArrayList<>();
            for (int i = 0; i < 60; i++) {
                Callable<String> call = i % 2 == 0
                        ? () -> "uuid " + OperatingSystem.getOSUUID()
                        : () -> "serial " + OperatingSystem.getOSSerialNumber();
                results.add(pool.submit(call));
            }
            for (int i = 0; i < results.size(); i++) {
                assertEquals(i % 2 == 0 ? "uuid UUID-0123" : "serial SERIAL-4567", results.get(i).get());
            }
        } finally {
            pool.shutdownNow();
        }
    }

    /** Several threads for some seconds; -Xcheck:jni reports any local reference that piles up. */
    @Test
    void severalThreadsForSomeSeconds() throws Exception {
        FakeHal.answer(FakeHal.UUID, " UUID-89AB \n".getBytes(UTF_8));
        FakeHal.answer(FakeHal.SMBIOS_SERIAL, "SERIAL-CDEF\n".getBytes(UTF_8));
        long end = System.nanoTime() + 3_000_000_000L;
        ExecutorService pool = Executors.newFixedThreadPool(4);
        try {
            List<Future<Integer>> workers = new ArrayList<>();
            for (int t = 0; t < 4; t++) {
                workers.add(pool.submit(() -> {
                    int calls = 0;
                    while (System.nanoTime() < end) {
                        assertEquals("UUID-89AB", OperatingSystem.getOSUUID());
                        assertEquals("SERIAL-CDEF", OperatingSystem.getOSSerialNumber());
                        calls += 2;
                    }
                    return calls;
                }));
            }
            for (Future<Integer> worker : workers) {
                assertTrue(worker.get() > 0);
            }
        } finally {
            pool.shutdownNow();
        }
    }
}
