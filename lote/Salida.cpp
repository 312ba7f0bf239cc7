#include "lote/Salida.h"

namespace lote {

std::unique_ptr<Escritor> nuevoEscritor(Formato formato, std::ostream& salida, std::size_t anchura,
                                        const Generaciones& generaciones, bool versionesTls) {
    switch (formato) {
    case Formato::Csv:
    case Formato::CsvExcel:
        return nuevoEscritorCsv(salida, generaciones, versionesTls, formato == Formato::CsvExcel);
    case Formato::Json:
        return nuevoEscritorJson(salida);
    case Formato::JsonLineas:
        return nuevoEscritorJsonLineas(salida);
    case Formato::Tabla:
        break;
    }
    return nuevoEscritorTabla(salida, anchura);
}

} // namespace lote
