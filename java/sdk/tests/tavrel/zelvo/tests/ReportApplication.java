package tavrel.zelvo.tests;

import java.lang.management.ManagementFactory;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Collectors;

import tavrel.zelvo.NativeDesktopApplicationMessage;
import tavrel.zelvo.idesktopapplication.DesktopApplication;

/**
 * Tells the page what the bridge gave it. Text commands, answered on the
 * calling thread unless said otherwise:
 * <ul>
 * <li>"informe": {"archive":[...],"code":"..."} as received by the loader;
 * <li>"propiedad:NAME": a system property;
 * <li>"argumentos": the JVM's options other than the class path, as a JSON list;
 * <li>"hilo": a new thread of its own sends "desde un hilo propio" and the bytes 1 2 3;
 * <li>"excepcion": throws from onMessage(String);
 * <li>"nulos": sends a null text and a null array, and reports what each call threw;
 * <li>"fin": ends the application (its last non-daemon thread);
 * <li>anything else comes back as it arrived.
 * </ul>
 * Binary messages come back as they arrived; one starting with 0xFF throws instead.
 */
public final class ReportApplication extends Partial.UntilClosed implements DesktopApplication {
    private final String[] archive;
    private final String code;

    ReportApplication(String[] archive, String code) {
        super("zelvo-report");
        this.archive = archive.clone();
        this.code = code;
    }

    @Override
    public void onMessage(String message) {
        if (message.equals("informe")) {
            send("{\"archive\":" + list(Arrays.asList(archive)) + ",\"code\":" + string(code) + "}");
        } else if (message.startsWith("propiedad:")) {
            send(String.valueOf(System.getProperty(message.substring(10))));
        } else if (message.equals("argumentos")) {
            List<String> options = ManagementFactory.getRuntimeMXBean().getInputArguments();
            send(list(options));
        } else if (message.equals("hilo")) {
            Thread own = new Thread(() -> {
                NativeDesktopApplicationMessage.onMessage("desde un hilo propio");
                NativeDesktopApplicationMessage.onMessage(new byte[] {1, 2, 3});
            }, "zelvo-report-sender");
            own.start();
        } else if (message.equals("nulos")) {
            send("texto: " + thrownBy(() -> NativeDesktopApplicationMessage.onMessage((String) null)));
            send("binario: " + thrownBy(() -> NativeDesktopApplicationMessage.onMessage((byte[]) null)));
        } else if (message.equals("excepcion")) {
            throw new IllegalStateException("fallo de prueba en onMessage");
        } else if (message.equals("fin")) {
            onClose();
        } else {
            send(message);
        }
    }

    @Override
    public void onMessage(byte[] message) {
        if (message.length > 0 && message[0] == (byte) 0xFF) {
            throw new IllegalArgumentException("fallo de prueba en onMessage(byte[])");
        }
        NativeDesktopApplicationMessage.onMessage(message);
    }

    private static String thrownBy(Runnable call) {
        try {
            call.run();
            return "nada";
        } catch (RuntimeException e) {
            return e.getClass().getName() + ": " + e.getMessage();
        }
    }

    /** Just enough JSON for the reports. */
    private static String string(String text) {
        if (text == null) return "null";
        StringBuilder out = new StringBuilder("\"");
        text.chars().forEach(c -> out.append(c == '"' || c == '\\' ? "\\" + (char) c
                                             : c < 0x20 ? String.format("\\u%04x", c) : String.valueOf((char) c)));
        return out.append('"').toString();
    }

    private static String list(List<String> items) {
        return items.stream().map(ReportApplication::string).collect(Collectors.joining(",", "[", "]"));
    }

    private static void send(String text) {
        NativeDesktopApplicationMessage.onMessage(text);
    }
}
