package org.korvane.mardel;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.util.Arrays;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class InstanceMethodsTest {
    private final OperatingSystem os = new OperatingSystem();

    @BeforeEach
    void noAnswers() {
        FakeHal.reset();
    }

    @Test
    void instanceMethodsGetTheValues() {
        FakeHal.answer(FakeHal.UUID, " U-1 \n".getBytes(UTF_8));
        FakeHal.answer(FakeHal.SMBIOS_SERIAL, "S-2\n".getBytes(UTF_8));
        assertEquals("U-1", os.getOSUUID());
        assertEquals("S-2", os.getOSSerialNumber());
        assertEquals(Arrays.asList(FakeHal.arguments(FakeHal.UUID), FakeHal.arguments(FakeHal.SERIAL),
                FakeHal.arguments(FakeHal.SMBIOS_SERIAL)), FakeHal.log());
    }

    @Test
    void instanceMethodsGetNull() {
        assertNull(os.getOSUUID());
        assertNull(os.getOSSerialNumber());
    }
}
