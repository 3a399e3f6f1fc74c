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

    static Stream<Arguments> answers() {
        String[][] table = {
            // what the tool prints, what Java gets
            {"  0123-ABCD \n", "0123-ABCD"},
            {"\n", ""},
            {"Zürich-日本-ñ\n", "Zürich-日本-ñ"},
            {"A B\n", "A B"},
        };
        List<Arguments> cases = new ArrayList<>();
        for (String[] row : table) {
            cases.add(Arguments.of("getOSUUID", FakeHal.UUID, row[0], row[1]));
            cases.add(Arguments.of("getOSSerialNumber", FakeHal.SERIAL, row[0], row[1]));
        }
        return cases.stream();
    }

    private static Supplier<String> method(String name) {
        return name.equals("getOSUUID") ? OperatingSystem::getOSUUID : OperatingSystem::getOSSerialNumber;
    }

    @ParameterizedTest(name = "{0} with {1} printing {2}")
    @MethodSource("answers")
    void valueReachesJavaTrimmed(String name, String key, String printed, String expected) {
        FakeHal.answer(key, printed.getBytes(UTF_8));
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
