// Built-in dialog words. The texts are written here in UTF-8 for legibility and converted to
// the language's 8-bit code page when the table is filled. A null entry means the language
// keeps the English word.
#include "lxwords.h"

#include <cstddef>
#include <iterator>
#include <utility>

namespace {

// clang-format off
constexpr const char* English[] = {
    "Preview", "Original", "Result", "OK", "Cancel", "Lock preview", "Copy Result to Original",
    "Contrast", "Brightness", "Hue",
    "Saturation", "Value", "Base color", "New color", "Luminosity", "Red", "Green", "Blue",
    "Filter values", "Presets",
    "Divisor", "Load", "Save", "Equalization", "Threshold", "Equalize", "Histogram", "Gray",
    "Light", "Left",
    "Top", "Width", "Height", "Color", "Original image quantity", "Lens", "Refraction",
    "Parameters Preview", "Quality", "DCT method",
    "Smoothing factor", "Gray scale", "Optimal Huffman", "Original size", "Compressed size",
    "Advanced", "Progressive", "Compression", "Image index", "Photometric",
    "Scanned document info", "Name", "Description", "Page name", "Page number", "of",
    "Horiz. Position (inch)", "Vert. Position (inch)", "Colors", "Transparent",
    "Transparent color", "Interlaced", "Background", "Horiz. Position", "Vert. Position",
    "Delay time", "Filter", "Wave", "Amplitude", "Wave length",
    "Phase", "Reflective", "User filter", "Morphing filters", "Window size", "Maximum",
    "Minimum", "Opening", "Closing", "Rotate",
    "Flip", "Horizontal", "Vertical", "Frequency domain image", "Select the region to clean",
    "Clear", "Reset", "Animate", "Load filter", "Save filter",
    "Bump map", "Print", "Margins", "inches", "Right", "Bottom", "Position", "Size", "Normal",
    "Fit to page",
    "Stretch to page", "Specified size", "Gamma correction", "Value", "Print Setup",
    "Left Margin", "Top Margin", "Right Margin", "Bottom Margin", "Location/size",
    "Top Left", "Top Center", "Top Right", "Center Left", "Center", "Center Right",
    "Bottom Left", "Bottom Center", "Bottom Right", "Close",
};

constexpr const char* Italian[] = {
    "Anteprima", "Originale", "Elaborata", nullptr, "Annulla", "Blocca anteprima",
    "Copia elaborata su originale", "Contrasto", "Luminosità", "Tinta",
    "Saturazione", "Valore", "Colore base", "Nuovo colore", "Luminanza", "Rosso", "Verde", "Blu",
    "Valori filtro", "Predefiniti",
    "Divisore", "Carica", "Salva", "Equalizzazione", "Soglia", "Equalizza", "Istogramma",
    "Grigio", "Luce", "Sinistra",
    "Alto", "Larghezza", "Altezza", "Colore", "Quantità immagine originale", "Lente",
    "Rifrazione", "Anteprima parametri", "Qualità", "Metodo DCT",
    "Fattore di smussatura", "Scala di grigi", "Huffman ottimizzato", "Dimensione originale",
    "Dimensione compressa", "Avanzate", "Progressivo", "Compressione", "Indice immagine",
    "Fotometria",
    "Informazioni documento acquisito", "Nome", "Descrizione", "Nome pagina", "Numero pagina",
    "di", "Posizione orizz. (pollici)", "Posizione vert. (pollici)", "Colori", "Trasparente",
    "Colore trasparente", "Interlacciato", "Sfondo", "Posizione orizz.", "Posizione vert.",
    "Tempo di ritardo", "Filtro", "Onda", "Ampiezza", "Lunghezza d'onda",
    "Fase", "Riflessione", "Filtro utente", "Filtri morfologici", "Dimensione finestra",
    "Massimo", "Minimo", "Apertura", "Chiusura", "Ruota",
    "Capovolgi", "Orizzontale", "Verticale", "Immagine nel dominio della frequenza",
    "Seleziona la regione da pulire", "Pulisci", "Azzera", "Anima", "Carica filtro",
    "Salva filtro",
    nullptr, "Stampa", "Margini", "pollici", "Destra", "Basso", "Posizione", "Dimensione",
    "Normale", "Adatta alla pagina",
    "Estendi alla pagina", "Dimensione specificata", "Correzione gamma", "Valore",
    "Imposta stampa", "Margine sinistro", "Margine superiore", "Margine destro",
    "Margine inferiore", "Posizione/dimensione",
    "In alto a sinistra", "In alto al centro", "In alto a destra", "Al centro a sinistra",
    "Centro", "Al centro a destra", "In basso a sinistra", "In basso al centro",
    "In basso a destra", "Chiudi",
};

constexpr const char* German[] = {
    "Vorschau", "Originalbild", "Ergebnis", nullptr, "Abbrechen", "Vorschau sperren",
    "Ergebnis ins Original kopieren", "Kontrast", "Helligkeit", "Farbton",
    "Sättigung", "Wert", "Grundfarbe", "Neue Farbe", "Leuchtkraft", "Rot", "Grün", "Blau",
    "Filterwerte", "Voreinstellungen",
    "Teiler", "Laden", "Speichern", "Tonwertangleichung", "Schwellenwert", "Angleichen",
    "Histogramm", "Grau", "Licht", "Links",
    "Oben", "Breite", "Höhe", "Farbe", "Menge des Originalbilds", "Linse", "Brechung",
    "Parametervorschau", "Qualität", "DCT-Methode",
    "Glättungsfaktor", "Graustufen", nullptr, "Originalgröße", "Komprimierte Größe",
    "Erweitert", "Progressiv", "Kompression", "Bildindex", nullptr,
    "Info zum gescannten Dokument", nullptr, "Beschreibung", "Seitenname", "Seitennummer",
    "von", "Horiz. Position (Zoll)", "Vert. Position (Zoll)", "Farben", nullptr,
    "Transparente Farbe", nullptr, "Hintergrund", "Horizontale Position", "Vertikale Position",
    "Verzögerung", nullptr, "Welle", nullptr, "Wellenlänge",
    nullptr, "Reflektierend", "Benutzerfilter", "Morphologische Filter", "Fenstergröße",
    nullptr, nullptr, "Öffnen", "Schließen", "Drehen",
    "Spiegeln", nullptr, "Vertikal", nullptr, "Zu bereinigenden Bereich wählen", "Löschen",
    "Zurücksetzen", "Animieren", "Filter laden", "Filter speichern",
    nullptr, "Drucken", "Ränder", "Zoll", "Rechts", "Unten", nullptr, "Größe", nullptr,
    "Druckbereich auf Seite anpassen",
    "Auf Seite strecken", "Angegebene Größe", "Gammakorrektur", "Wert", "Druckeinrichtung",
    "Linker Rand", "Oberer Rand", "Rechter Rand", "Unterer Rand", "Position/Größe",
    "Oben links", "Oben Mitte", "Oben rechts", "Mitte links", "Mitte", "Mitte rechts",
    "Unten links", "Unten Mitte", "Unten rechts", "Schließen",
};

constexpr const char* Spanish[] = {
    "Vista Previa", nullptr, "Resultado", "Aceptar", "Cancelar", "Bloquear vista previa",
    "Copiar resultado al original", "Contraste", "Brillo", "Tono",
    "Saturación", "Valor", "Color base", "Color nuevo", "Luminosidad", "Rojo", "Verde", "Azul",
    "Valores del filtro", "Predefinidos",
    nullptr, "Cargar", "Guardar", "Ecualización", "Umbral", "Ecualizar", "Histograma", "Gris",
    "Luz", "Izquierda",
    "Arriba", "Ancho", "Alto", "Color", "Cantidad de imagen original", "Lente", "Refracción",
    "Vista previa de parámetros", "Calidad", "Método DCT",
    "Factor de suavizado", "Escala de grises", "Huffman óptimo", "Tamaño original",
    "Tamaño comprimido", "Avanzado", "Progresivo", "Compresión", "Índice de imagen",
    "Fotométrico",
    "Información del documento escaneado", "Nombre", "Descripción", "Nombre de página",
    "Número de página", "de", "Posición horiz. (pulgadas)", "Posición vert. (pulgadas)",
    "Colores", "Transparente",
    "Color transparente", "Entrelazado", "Fondo", "Posición horiz.", "Posición vert.",
    "Tiempo de retardo", "Filtro", "Onda", "Amplitud", "Longitud de onda",
    "Fase", "Reflectante", "Filtro de usuario", "Filtros morfológicos", "Tamaño de ventana",
    "Máximo", nullptr, "Apertura", "Cierre", "Girar",
    "Voltear", nullptr, nullptr, "Imagen en el dominio de frecuencia",
    "Seleccione la región a limpiar", "Borrar", "Restablecer", "Animar", "Cargar filtro",
    "Guardar filtro",
    nullptr, "Imprimir", "Márgenes", "pulgadas", "Derecha", "Abajo", "Posición", "Tamaño",
    nullptr, "Ajustar a la página",
    "Estirar a la página", "Tamaño especificado", "Corrección gamma", "Valor",
    "Configurar impresión", "Margen izquierdo", "Margen superior", "Margen derecho",
    "Margen inferior", "Ubicación/tamaño",
    "Arriba a la izquierda", "Arriba al centro", "Arriba a la derecha",
    "Centro a la izquierda", "Centro", "Centro a la derecha", "Abajo a la izquierda",
    "Abajo al centro", "Abajo a la derecha", "Cerrar",
};

constexpr const char* French[] = {
    "Prévisualisation", "Originale", "Résultat", "Ok", "Annuler",
    "Verrouiller la prévisualisation", "Copier le résultat dans l'original", "Contraste",
    "Luminosité", "Teinte",
    nullptr, "Valeur", "Couleur de base", "Nouvelle couleur", "Luminance", "Rouge", "Vert",
    "Bleu", "Valeurs du filtre", "Préréglages",
    "Diviseur", "Charger", "Enregistrer", "Égalisation", "Seuil", "Égaliser", "Histogramme",
    "Gris", "Lumière", "Gauche",
    "Haut", "Largeur", "Hauteur", "Couleur", "Quantité de l'image originale", "Lentille",
    "Réfraction", "Prévisualisation des paramètres", "Qualité", "Méthode DCT",
    "Facteur de lissage", "Niveaux de gris", "Huffman optimal", "Taille originale",
    "Taille compressée", "Avancé", "Progressif", nullptr, "Index de l'image", "Photométrie",
    "Infos du document numérisé", "Nom", nullptr, "Nom de la page", "Numéro de page", "sur",
    "Position horiz. (pouces)", "Position vert. (pouces)", "Couleurs", nullptr,
    "Couleur transparente", "Entrelacé", "Arrière-plan", "Position horiz.", "Position vert.",
    "Délai", "Filtre", "Onde", nullptr, "Longueur d'onde",
    nullptr, "Réfléchissant", "Filtre utilisateur", "Filtres morphologiques",
    "Taille de la fenêtre", nullptr, nullptr, "Ouverture", "Fermeture", "Rotation",
    "Retourner", "Horizontalement", "Verticalement", "Image du domaine fréquentiel",
    "Sélectionnez la zone à nettoyer", "Effacer", "Réinitialiser", "Animer",
    "Charger un filtre", "Enregistrer le filtre",
    nullptr, "Imprimer", "Marges", "pouces", "Droite", "Bas", nullptr, "Taille", nullptr,
    "Adapter à la page",
    "Étirer à la page", "Taille spécifiée", "Correction gamma", "Valeur",
    "Configuration de l'impression", "Marge gauche", "Marge haute", "Marge droite",
    "Marge basse", "Emplacement/taille",
    "En haut à gauche", "En haut au centre", "En haut à droite", "Au centre à gauche",
    "Centre", "Au centre à droite", "En bas à gauche", "En bas au centre", "En bas à droite",
    "Fermer",
};

constexpr const char* Portuguese[] = {
    "Visualizar", nullptr, "Resultado", nullptr, "Cancelar", "Bloquear visualização",
    "Copiar resultado para o original", "Contraste", "Brilho", "Matiz",
    "Saturação", "Valor", "Cor base", "Nova cor", "Luminosidade", "Vermelho", "Verde", "Azul",
    "Valores do filtro", "Predefinições",
    nullptr, "Carregar", "Salvar", "Equalização", "Limiar", "Equalizar", "Histograma",
    "Cinza", "Luz", "Esquerda",
    "Topo", "Largura", "Altura", "Cor", "Quantidade da imagem original", "Lente", "Refração",
    "Visualizar parâmetros", "Qualidade", "Método DCT",
    "Fator de suavização", "Escala de cinza", "Huffman ótimo", "Tamanho original",
    "Tamanho comprimido", "Avançado", "Progressivo", "Compressão", "Índice da imagem",
    "Fotométrico",
    "Informações do documento digitalizado", "Nome", "Descrição", "Nome da página",
    "Número da página", "de", "Posição horiz. (polegadas)", "Posição vert. (polegadas)",
    "Cores", "Transparente",
    "Cor transparente", "Entrelaçado", "Fundo", "Posição horiz.", "Posição vert.",
    "Tempo de espera", "Filtro", "Onda", nullptr, "Comprimento de onda",
    "Fase", "Reflexivo", "Filtro do usuário", "Filtros morfológicos", "Tamanho da janela",
    "Máximo", "Mínimo", "Abertura", "Fechamento", "Girar",
    "Inverter", nullptr, nullptr, "Imagem no domínio da frequência",
    "Selecione a região a limpar", "Limpar", "Restaurar", nullptr, "Carregar filtro",
    "Salvar filtro",
    nullptr, "Imprimir", "Margens", "polegadas", "Direita", "Inferior", "Posição", "Tamanho",
    nullptr, "Ajustar à página",
    "Esticar à página", "Tamanho especificado", "Correção gama", "Valor",
    "Configurar impressão", "Margem esquerda", "Margem superior", "Margem direita",
    "Margem inferior", "Local/tamanho",
    "Superior esquerdo", "Superior central", "Superior direito", "Centro esquerdo", "Centro",
    "Centro direito", "Inferior esquerdo", "Inferior central", "Inferior direito", "Fechar",
};

// Id 3 is written with the Greek capitals Omicron and Kappa.
constexpr const char* Greek[] = {
    "Προεπισκόπηση", "Αρχική", "Αποτέλεσμα", "ΟΚ", "Άκυρο", "Κλείδωμα προεπισκόπησης",
    "Αντιγραφή αποτελέσματος στην αρχική", "Αντίθεση", "Φωτεινότητα", "Απόχρωση",
    "Κορεσμός", "Τιμή", "Βασικό χρώμα", "Νέο χρώμα", "Λαμπρότητα", "Κόκκινο", "Πράσινο",
    "Μπλε", "Τιμές φίλτρου", "Προεπιλογές",
    "Διαιρέτης", "Φόρτωση", "Αποθήκευση", "Εξισορρόπηση", "Κατώφλι", "Εξισορρόπησε",
    "Ιστόγραμμα", "Γκρι", "Φως", "Αριστερά",
    "Πάνω", "Πλάτος", "Ύψος", "Χρώμα", "Ποσότητα αρχικής εικόνας", "Φακός", "Διάθλαση",
    "Προεπισκόπηση παραμέτρων", "Ποιότητα", "Μέθοδος DCT",
    "Συντελεστής εξομάλυνσης", "Κλίμακα του γκρι", "Βέλτιστο Huffman", "Αρχικό μέγεθος",
    "Συμπιεσμένο μέγεθος", "Για προχωρημένους", "Προοδευτικό", "Συμπίεση", "Δείκτης εικόνας",
    "Φωτομετρικό",
    "Πληροφορίες σαρωμένου εγγράφου", "Όνομα", "Περιγραφή", "Όνομα σελίδας",
    "Αριθμός σελίδας", "από", "Οριζ. θέση (ίντσες)", "Κατακ. θέση (ίντσες)", "Χρώματα",
    "Διαφανές",
    "Διαφανές χρώμα", "Πεπλεγμένο", "Φόντο", "Οριζ. θέση", "Κατακ. θέση",
    "Χρόνος καθυστέρησης", "Φίλτρο", "Κύμα", "Εύρος", "Μήκος κύματος",
    "Φάση", "Ανακλαστικό", "Φίλτρο χρήστη", "Μορφολογικά φίλτρα", "Μέγεθος παραθύρου",
    "Μέγιστο", "Ελάχιστο", "Άνοιγμα", "Κλείσιμο", "Περιστροφή",
    "Αναστροφή", "Οριζόντια", "Κατακόρυφα", "Εικόνα πεδίου συχνοτήτων",
    "Επιλέξτε την περιοχή για καθαρισμό", "Καθαρισμός", "Επαναφορά", nullptr, nullptr,
    nullptr,
    nullptr, "Εκτύπωση", "Περιθώρια", "ίντσες", "Δεξιά", "Κάτω", "Θέση", "Μέγεθος",
    "Κανονικό", "Εφαρμόστε στήν σελίδα",
    "Επέκταση στη σελίδα", "Καθορισμένο μέγεθος", "Διόρθωση γάμμα", "Τιμή",
    "Ρύθμιση εκτύπωσης", "Αριστερό περιθώριο", "Πάνω περιθώριο", "Δεξί περιθώριο",
    "Κάτω περιθώριο", "Θέση/μέγεθος",
    "Πάνω αριστερά", "Πάνω κέντρο", "Πάνω δεξιά", "Κέντρο αριστερά", "Κέντρο",
    "Κέντρο δεξιά", "Κάτω αριστερά", "Κάτω κέντρο", "Κάτω δεξιά", "Κλείστε",
};

// The print-dialog words 87..119 have no Russian texts.
constexpr const char* Russian[] = {
    "Просмотр", "Оригинал", "Результат", nullptr, "Отмена", "Зафиксировать просмотр",
    "Копировать результат в оригинал", "Контраст", "Яркость", "Оттенок",
    "Насыщенность", "Значение", "Основной цвет", "Новый цвет", "Светимость", "Красный",
    "Зелёный", "Синий", nullptr, "Предустановки",
    "Делитель", "Загрузить", "Сохранить", "Выравнивание", "Порог", "Выровнять",
    "Гистограмма", "Серый", "Свет", "Слева",
    "Сверху", "Ширина", "Высота", "Цвет", "Количество исходного изображения", "Линза",
    "Преломление", "Просмотр параметров", "Качество", "Метод DCT",
    "Коэффициент сглаживания", "Оттенки серого", "Оптимальный Хаффман", "Исходный размер",
    "Сжатый размер", "Дополнительно", "Прогрессивный", "Сжатие", "Номер изображения",
    "Фотометрия",
    "Сведения о сканированном документе", "Имя", "Описание", "Имя страницы",
    "Номер страницы", "из", "Гориз. позиция (дюймы)", "Верт. позиция (дюймы)", "Цвета",
    "Прозрачный",
    "Прозрачный цвет", "Чересстрочный", "Фон", "Гориз. позиция", "Верт. позиция",
    "Задержка", "Фильтр", "Волна", "Амплитуда", "Длина волны",
    "Фаза", "Отражение", "Пользовательский фильтр", "Морфологические фильтры",
    "Размер окна", "Максимум", "Минимум", "Размыкание", "Замыкание", "Повернуть",
    "Отразить", "Горизонтально", "Вертикально", "Изображение в частотной области",
    "Выберите область для очистки", "Очистить", "Сброс", nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The print-dialog words 91..119 have no Dutch texts.
constexpr const char* Dutch[] = {
    "Voorbeeld", "Origineel", "Resultaat", nullptr, "Annuleren", "Voorbeeld vergrendelen",
    "Resultaat naar origineel kopiëren", nullptr, "Helderheid", "Tint",
    "Verzadiging", "Waarde", "Basiskleur", "Nieuwe kleur", "Lichtsterkte", "Rood", "Groen",
    "Blauw", "Filterwaarden", "Voorinstellingen",
    "Deler", "Laden", "Opslaan", "Egalisatie", "Drempel", "Egaliseren", nullptr, "Grijs",
    "Licht", "Links",
    nullptr, "Breedte", "Hoogte", "Kleur", "Hoeveelheid origineel beeld", nullptr, "Breking",
    "Voorbeeld parameters", "Kwaliteit", "DCT-methode",
    "Verzachtingsfactor", "Grijswaarden", "Optimale Huffman", "Oorspronkelijke grootte",
    "Gecomprimeerde grootte", "Geavanceerd", "Progressief", "Compressie", "Beeldindex",
    "Fotometrisch",
    "Gegevens gescand document", "Naam", "Beschrijving", "Paginanaam", "Paginanummer",
    nullptr, "Horiz. positie (inch)", "Vert. positie (inch)", "Kleuren", "Transparant",
    "Transparante kleur", "Geïnterlinieerd", "Achtergrond", "Horiz. positie",
    "Vert. positie", "Vertragingstijd", nullptr, "Golf", nullptr, "Golflengte",
    "Fase", "Reflecterend", "Gebruikersfilter", "Morfologische filters", "Venstergrootte",
    nullptr, nullptr, "Openen", "Sluiten", "Roteren",
    "Spiegelen", "Horizontaal", "Verticaal", "Beeld in frequentiedomein",
    "Selecteer het te reinigen gebied", "Wissen", "Herstellen", nullptr, "Filter laden",
    "Filter opslaan",
    "Reliëfkaart", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};
// clang-format on
static_assert(std::size(English) == WordCount);
static_assert(std::size(Italian) == WordCount);
static_assert(std::size(German) == WordCount);
static_assert(std::size(Spanish) == WordCount);
static_assert(std::size(French) == WordCount);
static_assert(std::size(Portuguese) == WordCount);
static_assert(std::size(Greek) == WordCount);
static_assert(std::size(Russian) == WordCount);
static_assert(std::size(Dutch) == WordCount);

enum class CodePage { Cp1252, Cp1253, Cp1251 };

struct BuiltIn {
    const char* const* words;
    CodePage page;
};

// In fill order, language ordinals 1..9.
constexpr std::array<BuiltIn, 9> BuiltInLanguages = {{
    {English, CodePage::Cp1252},
    {Italian, CodePage::Cp1252},
    {German, CodePage::Cp1252},
    {Spanish, CodePage::Cp1252},
    {French, CodePage::Cp1252},
    {Portuguese, CodePage::Cp1252},
    {Greek, CodePage::Cp1253},
    {Russian, CodePage::Cp1251},
    {Dutch, CodePage::Cp1252},
}};

// One code point of the built-in texts in the given code page; 0 when it has no byte there.
uint8_t EncodeCodePoint(char32_t c, CodePage page) {
    if (c < 0x80) return uint8_t(c);
    switch (page) {
        case CodePage::Cp1252:
            if (c >= 0xA0 && c <= 0xFF) return uint8_t(c);
            return 0;
        case CodePage::Cp1253:
            if (c == 0x0386) return 0xA2;
            if (c >= 0x0388 && c <= 0x038A) return uint8_t(0xB8 + (c - 0x0388));
            if (c == 0x038C) return 0xBC;
            if (c >= 0x038E && c <= 0x03A1) return uint8_t(0xBE + (c - 0x038E));
            if (c >= 0x03A3 && c <= 0x03CE) return uint8_t(0xD3 + (c - 0x03A3));
            return 0;
        case CodePage::Cp1251:
            if (c >= 0x0410 && c <= 0x044F) return uint8_t(0xC0 + (c - 0x0410));
            if (c == 0x0401) return 0xA8;
            if (c == 0x0451) return 0xB8;
            return 0;
    }
    return 0;
}

// The built-in texts are well-formed UTF-8 inside the three code pages (the tests check every
// slot); anything else would show as '?'.
std::string ToCodePage(const char* utf8, CodePage page) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p) {
        char32_t c = *p++;
        int more = 0;
        if (c >= 0xF0) { c &= 0x07; more = 3; }
        else if (c >= 0xE0) { c &= 0x0F; more = 2; }
        else if (c >= 0xC0) { c &= 0x1F; more = 1; }
        for (; more > 0 && (*p & 0xC0) == 0x80; --more) c = (c << 6) | (*p++ & 0x3F);
        const uint8_t b = more == 0 ? EncodeCodePoint(c, page) : 0;
        out.push_back(char(b != 0 ? b : '?'));
    }
    return out;
}

// The storage itself, constructed on first use so no other unit's initializer can see it
// unconstructed; its strings are freed at program exit.
TWordTable& Storage() {
    static TWordTable table;
    return table;
}

void Store(uint8_t language, uint8_t id, std::string text) {
    if (language < 1 || language > WordLanguageCount || id >= WordCount) return;
    Storage()[language - 1][id] = std::move(text);
}

}  // namespace

void FillWordTable() {
    for (size_t l = 0; l < BuiltInLanguages.size(); ++l) {
        const BuiltIn& lang = BuiltInLanguages[l];
        for (size_t id = 0; id < size_t(WordCount); ++id) {
            const char* own = lang.words[id];
            Store(uint8_t(l + 1), uint8_t(id), ToCodePage(own ? own : English[id], lang.page));
        }
    }
}

TWordTable& WordTable() {
    static const bool filled = (FillWordTable(), true);
    (void)filled;
    return Storage();
}

void SetLanguageMessage(uint8_t language, uint8_t id, const std::string& text) {
    WordTable();  // built-in texts first, so a later fill cannot overwrite this one
    Store(language, id, text);
}

int WordTableRow(TMsgLanguage language) {
    if (language <= msSystem || language > msUser) return msEnglish - 1;
    return int(language) - 1;
}

const std::string& GetLanguageWord(TMsgLanguage language, int id) {
    static const std::string empty;
    if (id < 0 || id >= WordCount) return empty;
    return WordTable()[size_t(WordTableRow(language))][size_t(id)];
}
