import org.korvane.mardel.OperatingSystem;

/** Prints this computer's hardware UUID and serial number (null: none is available). */
public class ShowIdentity {
    public static void main(String[] args) {
        System.out.println("hardware UUID: " + OperatingSystem.getOSUUID());
        System.out.println("serial number: " + OperatingSystem.getOSSerialNumber());
    }
}
