package tavrel.zelvo.tests;

import java.util.List;

/** Just enough JSON for the test reports. */
final class Json {
    private Json() {}

    static String string(String text) {
        if (text == null) return "null";
        StringBuilder out = new StringBuilder("\"");
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == '"' || c == '\\') {
                out.append('\\').append(c);
            } else if (c < 0x20) {
                out.append(String.format("\\u%04x", (int) c));
            } else {
                out.append(c);
            }
        }
        return out.append('"').toString();
    }

    static String list(List<String> items) {
        StringBuilder out = new StringBuilder("[");
        for (int i = 0; i < items.size(); i++) {
            if (i > 0) out.append(',');
            out.append(string(items.get(i)));
        }
        return out.append(']').toString();
    }
}
