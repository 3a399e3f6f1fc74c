package org.korvane.mardel;

/** Prints what the library tells this JVM about the computer. */
public final class Demo {
    private Demo() {}

    public static void main(String[] args) {
        String bits = System.getProperty("sun.arch.data.model", "?");
        String arch = System.getProperty("os.arch");
        System.out.println(bits + "-bit JVM (" + arch + ", Java " + System.getProperty("java.version") + ")");
        show("hardware UUID", OperatingSystem.getOSUUID());
        show("serial number", OperatingSystem.getOSSerialNumber());
    }

    private static void show(String what, String value) {
        if (value == null) {
            System.out.println("  no " + what + " is available");
        } else {
            System.out.println("  " + what + ": " + value);
        }
    }
}
