// The media server as a control point that nobody here wrote sees it: goupnp reaches the device
// by its description URL and calls its actions; Go's own XML parser reads the DIDL-Lite. Every
// Search is compared with the rows that `mysearchcriteria search` selects for the same criteria,
// sort and container, so the two front-ends of the host layer must agree.
//
//	controlpoint DESCRIPTION-URL CLI CASES-DIR TABLE...
//	controlpoint -strict DESCRIPTION-URL   (a server started with --strict)
//
// TABLE files are tab-separated with a header line; their criteria column (and container and
// sort columns, where they have them) give the searches compared. CASES-DIR holds
// serve-faults.tsv. Prints one line per failed check and exits with 1 if any failed.
package main

import (
	"bufio"
	"bytes"
	"encoding/xml"
	"fmt"
	"io"
	"net/http"
	"net/url"
	"os"
	"os/exec"
	"path/filepath"
	"reflect"
	"strings"
	"sync"
	"time"

	"github.com/huin/goupnp/dcps/av1"
)

const serviceType = "urn:schemas-upnp-org:service:ContentDirectory:1"

var failures int

func fail(format string, args ...interface{}) {
	failures++
	fmt.Printf("FAIL: "+format+"\n", args...)
}

// --- Tables ----------------------------------------------------------------------------------

type row map[string]string

// readTable reads a tab-separated file: '#' lines are comments, the first other line names the
// columns.
func readTable(path string) []row {
	file, err := os.Open(path)
	if err != nil {
		fail("%v", err)
		return nil
	}
	defer file.Close()
	var header []string
	var rows []row
	scanner := bufio.NewScanner(file)
	scanner.Buffer(make([]byte, 1<<20), 1<<20)
	for scanner.Scan() {
		line := scanner.Text()
		if strings.HasPrefix(line, "#") || line == "" {
			continue
		}
		fields := strings.Split(line, "\t")
		if header == nil {
			header = fields
			continue
		}
		r := row{"where": fmt.Sprintf("%s:%d", filepath.Base(path), len(rows)+2)}
		for i, name := range header {
			if i < len(fields) {
				r[name] = fields[i]
			}
		}
		rows = append(rows, r)
	}
	return rows
}

func orDefault(value, fallback string) string {
	if value == "" {
		return fallback
	}
	return value
}

// --- The command line's answer ---------------------------------------------------------------

// cliIds runs `mysearchcriteria search` and returns the object ids it prints, in its order; ok
// is false when it refused the criteria.
func cliIds(cli, container, criteria, sort string) (ids []string, ok bool) {
	args := []string{"search", "--standard", "--show", "object_id", "--container", container}
	if sort != "" {
		args = append(args, "--sort", sort)
	}
	out, err := exec.Command(cli, append(args, criteria)...).Output()
	if err != nil {
		return nil, false
	}
	// The rows sit between the rule under the column name and the "N rows in" line.
	lines := strings.Split(string(out), "\n")
	inside := false
	for _, line := range lines {
		switch {
		case strings.HasPrefix(line, "---"):
			inside = true
		case inside && strings.Contains(line, " in ") && strings.HasSuffix(line, " ms"):
			return ids, true
		case inside:
			ids = append(ids, line)
		}
	}
	return ids, true
}

// --- The server's answer ---------------------------------------------------------------------

// didlIds parses DIDL-Lite and returns the ids of its objects in document order, checking that
// every object carries a title and a class.
func didlIds(didl string) ([]string, error) {
	decoder := xml.NewDecoder(strings.NewReader(didl))
	var ids []string
	depth := 0
	var current string
	seen := map[string]bool{}
	for {
		token, err := decoder.Token()
		if err == io.EOF {
			return ids, nil
		}
		if err != nil {
			return nil, err
		}
		switch t := token.(type) {
		case xml.StartElement:
			depth++
			if depth == 1 && (t.Name.Local != "DIDL-Lite" || t.Name.Space != "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/") {
				return nil, fmt.Errorf("root element %v", t.Name)
			}
			if depth == 2 {
				current = ""
				seen = map[string]bool{}
				for _, a := range t.Attr {
					if a.Name.Local == "id" {
						current = a.Value
					}
				}
				ids = append(ids, current)
			}
			if depth == 3 {
				seen[t.Name.Local] = true
			}
		case xml.EndElement:
			if depth == 2 && (!seen["title"] || !seen["class"]) {
				return nil, fmt.Errorf("object %q lacks dc:title or upnp:class", current)
			}
			depth--
		}
	}
}

type fault struct {
	Code        int    `xml:"Body>Fault>detail>UPnPError>errorCode"`
	Description string `xml:"Body>Fault>detail>UPnPError>errorDescription"`
}

// call posts one SOAP action with the arguments in order and returns the HTTP status, the UPnP
// error code of a fault (0 for none) and the body. The envelope is written with encoding/xml.
func call(endpoint, service, action string, args [][2]string) (int, int, []byte, error) {
	var body bytes.Buffer
	body.WriteString(`<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>`)
	fmt.Fprintf(&body, `<u:%s xmlns:u="%s">`, action, service)
	encoder := xml.NewEncoder(&body)
	for _, arg := range args {
		encoder.EncodeElement(arg[1], xml.StartElement{Name: xml.Name{Local: arg[0]}})
	}
	encoder.Flush()
	fmt.Fprintf(&body, `</u:%s></s:Body></s:Envelope>`, action)
	return post(endpoint, fmt.Sprintf(`"%s#%s"`, service, action), body.Bytes())
}

func post(endpoint, soapAction string, body []byte) (int, int, []byte, error) {
	request, _ := http.NewRequest("POST", endpoint, bytes.NewReader(body))
	request.Header.Set("Content-Type", `text/xml; charset="utf-8"`)
	request.Header.Set("SOAPACTION", soapAction)
	client := http.Client{Timeout: 60 * time.Second}
	response, err := client.Do(request)
	if err != nil {
		return 0, 0, nil, err
	}
	defer response.Body.Close()
	answer, _ := io.ReadAll(response.Body)
	var f fault
	xml.Unmarshal(answer, &f)
	return response.StatusCode, f.Code, answer, nil
}

// --- Checks ----------------------------------------------------------------------------------

// compareSearches: the ids the server returns equal the command line's, in its order, and a
// criteria one refuses the other refuses with 708.
func compareSearches(cd *av1.ContentDirectory1, endpoint, cli string, rows []row) {
	for _, r := range rows {
		criteria, container, sort := r["criteria"], orDefault(r["container"], "0"), r["sort"]
		want, ok := cliIds(cli, container, criteria, sort)
		result, returned, total, _, err := cd.Search(container, criteria, "*", 0, 0, sort)
		if !ok {
			_, code, _, _ := call(endpoint, serviceType, "Search", searchArgs(container, criteria, sort, "0", "0"))
			if code != 708 && code != 709 {
				fail("%s: the command line refuses %q, the server answers with error %d", r["where"], criteria, code)
			}
			continue
		}
		if err != nil {
			fail("%s: %q: %v", r["where"], criteria, err)
			continue
		}
		got, err := didlIds(result)
		if err != nil {
			fail("%s: %q: DIDL-Lite: %v", r["where"], criteria, err)
			continue
		}
		if !reflect.DeepEqual(got, want) && !(len(got) == 0 && len(want) == 0) {
			fail("%s: %q sort %q: server %d ids %.200v, command line %d ids %.200v", r["where"], criteria, sort,
				len(got), got, len(want), want)
		}
		if int(returned) != len(got) || int(total) != len(want) {
			fail("%s: %q: NumberReturned %d, TotalMatches %d for %d ids", r["where"], criteria, returned, total, len(want))
		}
	}
}

func searchArgs(container, criteria, sort, start, count string) [][2]string {
	return [][2]string{{"ContainerID", container}, {"SearchCriteria", criteria}, {"Filter", "*"},
		{"StartingIndex", start}, {"RequestedCount", count}, {"SortCriteria", sort}}
}

// checkPaging: pages of ten concatenated give the whole answer, each with the whole count.
func checkPaging(cd *av1.ContentDirectory1, criteria, sort string) {
	whole, _, total, _, err := cd.Search("0", criteria, "*", 0, 0, sort)
	if err != nil {
		fail("paging %q: %v", criteria, err)
		return
	}
	want, _ := didlIds(whole)
	var got []string
	for start := uint32(0); start < total+10; start += 10 {
		page, returned, pageTotal, _, err := cd.Search("0", criteria, "*", start, 10, sort)
		ids, _ := didlIds(page)
		if err != nil || pageTotal != total || int(returned) != len(ids) || len(ids) > 10 {
			fail("paging %q at %d: %v, %d returned, %d of %d", criteria, start, err, returned, pageTotal, total)
			return
		}
		got = append(got, ids...)
	}
	if len(want) < 30 || !reflect.DeepEqual(got, want) || int(total) != len(want) {
		fail("paging %q: pages give %d ids, the whole answer %d (TotalMatches %d)", criteria, len(got), len(want), total)
	}
}

// checkBrowse: the children of a container are the objects whose parent it is, as the command
// line lists its descendants with their parents; its metadata is the one object.
func checkBrowse(cd *av1.ContentDirectory1, cli, container string) {
	out, err := exec.Command(cli, "search", "--show", "object_id, parent_id", "--container", container, "*").Output()
	if err != nil {
		fail("browse %s: the command line: %v", container, err)
		return
	}
	var want []string
	for _, line := range strings.Split(string(out), "\n") {
		fields := strings.Fields(line)
		if len(fields) == 2 && fields[1] == container {
			want = append(want, fields[0])
		}
	}
	result, returned, total, _, err := cd.Browse(container, "BrowseDirectChildren", "*", 0, 0, "")
	got, perr := didlIds(result)
	if err != nil || perr != nil || !reflect.DeepEqual(got, want) || int(returned) != len(want) || int(total) != len(want) || len(want) == 0 {
		fail("browse %s: %v %v: got %v, want %v (%d, %d)", container, err, perr, got, want, returned, total)
	}
	result, returned, total, _, err = cd.Browse(container, "BrowseMetadata", "*", 0, 0, "")
	got, perr = didlIds(result)
	if err != nil || perr != nil || !reflect.DeepEqual(got, []string{container}) || returned != 1 || total != 1 {
		fail("browse metadata %s: %v %v: got %v", container, err, perr, got)
	}
}

// checkFilter: "*" gives every property the row has; a list only those named (and the ones
// every object carries).
func checkFilter(endpoint string) {
	criteria := `upnp:class derivedfrom "object.item.audioItem" and dc:title = "Fever"`
	for _, c := range []struct {
		filter string
		want   []string
		absent []string
	}{
		{"*", []string{"<upnp:album>", "<upnp:artist>", "<upnp:albumArtURI>", "<res protocolInfo=", `duration=`, `size=`}, nil},
		{"dc:title,upnp:album", []string{"<upnp:album>", "<dc:title>"}, []string{"<upnp:artist>", "<res"}},
		{"res@duration", []string{"<res protocolInfo=", "duration="}, []string{"<upnp:album>"}},
		{"", []string{"<dc:title>", "<upnp:class>"}, []string{"<upnp:album>", "<res"}},
	} {
		args := searchArgs("0", criteria, "", "0", "0")
		args[2][1] = c.filter
		status, code, body, err := call(endpoint, serviceType, "Search", args)
		var answer struct {
			Result string `xml:"Body>SearchResponse>Result"`
		}
		xml.Unmarshal(body, &answer)
		if err != nil || status != 200 || code != 0 {
			fail("filter %q: %v %d %d", c.filter, err, status, code)
			continue
		}
		for _, text := range c.want {
			if !strings.Contains(answer.Result, text) {
				fail("filter %q: no %s in %.300s", c.filter, text, answer.Result)
			}
		}
		for _, text := range c.absent {
			if strings.Contains(answer.Result, text) {
				fail("filter %q: %s in %.300s", c.filter, text, answer.Result)
			}
		}
	}
}

// checkFaults runs the rows of serve-faults.tsv; after each fault the server must answer a
// plain request.
func checkFaults(cd *av1.ContentDirectory1, endpoint string, rows []row) {
	for _, r := range rows {
		var args [][2]string
		for _, name := range strings.Split(r["arguments"], ",") {
			if name != "" {
				args = append(args, [2]string{name, r[name]})
			}
		}
		status, code, body, err := call(endpoint, serviceType, r["action"], args)
		if err != nil || fmt.Sprint(code) != r["error"] {
			fail("%s: %s: error %d (HTTP %d, %v), want %s: %.300s", r["where"], r["what"], code, status, err, r["error"], body)
		}
		if _, _, _, _, err := cd.Search("0", "*", "*", 0, 1, ""); err != nil {
			fail("%s: the next request: %v", r["where"], err)
		}
	}
}

// checkHostile: huge, malformed and entity-laden requests and a crowd of them at once get
// faults or answers, and the server answers a plain request afterwards.
func checkHostile(cd *av1.ContentDirectory1, endpoint string) {
	huge := `dc:title = "` + strings.Repeat("a", 1<<20) + `"`
	if status, code, _, err := call(endpoint, serviceType, "Search", searchArgs("0", huge, "", "0", "0")); err != nil || status != 200 || code != 0 {
		fail("1 MiB criteria: HTTP %d, error %d, %v", status, code, err)
	}
	// SQLite evaluates no LIKE pattern past 50,000 bytes: the database's refusal is "action failed".
	huge = `dc:title contains "` + strings.Repeat("a", 1<<20) + `"`
	if _, code, body, err := call(endpoint, serviceType, "Search", searchArgs("0", huge, "", "0", "0")); err != nil || code != 501 ||
		!bytes.Contains(body, []byte("pattern too complex")) {
		fail("1 MiB contains: error %d, %v: %.300s", code, err, body)
	}
	nested := strings.Repeat("(", 1<<20)
	if _, code, _, err := call(endpoint, serviceType, "Search", searchArgs("0", nested, "", "0", "0")); err != nil || code != 708 {
		fail("1 MiB of parentheses: error %d, %v", code, err)
	}
	tooLarge := `dc:title contains "` + strings.Repeat("a", 3<<20) + `"`
	if status, _, _, err := call(endpoint, serviceType, "Search", searchArgs("0", tooLarge, "", "0", "0")); err == nil && status != 413 {
		fail("3 MiB body: HTTP %d, want 413", status)
	}
	laughs := `<?xml version="1.0"?><!DOCTYPE s:Envelope [<!ENTITY a "aaaaaaaaaa">` +
		`<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">` +
		`<!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;"><!ENTITY e "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;">` +
		`<!ENTITY f "&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;"><!ENTITY g "&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;">` +
		`<!ENTITY h "&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;"><!ENTITY i "&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;">]>` +
		`<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><u:Search xmlns:u="` + serviceType +
		`"><ContainerID>0</ContainerID><SearchCriteria>dc:title contains "&i;"</SearchCriteria><Filter>*</Filter>` +
		`<StartingIndex>0</StartingIndex><RequestedCount>1</RequestedCount><SortCriteria></SortCriteria></u:Search></s:Body></s:Envelope>`
	for what, body := range map[string]string{
		"entity expansion": laughs,
		"malformed SOAP":   `<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><u:Search xmlns:u="` + serviceType + `"><ContainerID>0</Contai`,
		"not XML":          "\x00\xff<<<&&&",
		"no body":          "",
	} {
		start := time.Now()
		status, code, answer, err := post(endpoint, `"`+serviceType+`#Search"`, []byte(body))
		if err != nil || status == 200 || time.Since(start) > 10*time.Second {
			fail("%s: HTTP %d, error %d, %v after %v: %.200s", what, status, code, err, time.Since(start), answer)
		}
	}
	var wait sync.WaitGroup
	results := make(chan string, 200)
	for i := 0; i < 200; i++ {
		wait.Add(1)
		go func(i int) {
			defer wait.Done()
			criteria := fmt.Sprintf(`dc:title contains "%c"`, 'a'+i%26)
			status, code, _, err := call(endpoint, serviceType, "Search", searchArgs("0", criteria, "", "0", "10"))
			if err != nil || (status != 200 && code != 501) {
				results <- fmt.Sprintf("HTTP %d, error %d, %v", status, code, err)
			}
		}(i)
	}
	wait.Wait()
	close(results)
	for r := range results {
		fail("200 at once: %s", r)
	}
	if _, _, _, _, err := cd.Search("0", "*", "*", 0, 1, ""); err != nil {
		fail("after the hostile requests: %v", err)
	}
}

// checkStrict: a server started with --strict refuses what the default one repairs or skips.
func checkStrict(endpoint string) {
	for _, c := range []struct {
		criteria, sort string
		code           int
	}{
		{`dc:title = "love`, "", 708},
		{"*", "+upnp:rating,+dc:title", 709},
		{"*", "+dc:title", 0},
	} {
		if _, code, body, err := call(endpoint, serviceType, "Search", searchArgs("0", c.criteria, c.sort, "0", "1")); err != nil || code != c.code {
			fail("strict: %q sorted %q: error %d, want %d (%v): %.200s", c.criteria, c.sort, code, c.code, err, body)
		}
	}
}

func main() {
	if len(os.Args) == 3 && os.Args[1] == "-strict" {
		location, _ := url.Parse(os.Args[2])
		directories, err := av1.NewContentDirectory1ClientsByURL(location)
		if err != nil || len(directories) != 1 {
			fmt.Println("no ContentDirectory:", err)
			os.Exit(1)
		}
		checkStrict(directories[0].ServiceClient.SOAPClient.EndpointURL.String())
		if failures > 0 {
			os.Exit(1)
		}
		return
	}
	if len(os.Args) < 4 {
		fmt.Fprintln(os.Stderr, "usage: controlpoint DESCRIPTION-URL CLI CASES-DIR TABLE...")
		os.Exit(2)
	}
	location, err := url.Parse(os.Args[1])
	if err != nil {
		fmt.Println(err)
		os.Exit(1)
	}
	cli, cases := os.Args[2], os.Args[3]
	directories, err := av1.NewContentDirectory1ClientsByURL(location)
	if err != nil || len(directories) != 1 {
		fmt.Println("no ContentDirectory:", err)
		os.Exit(1)
	}
	cd := directories[0]
	endpoint := cd.ServiceClient.SOAPClient.EndpointURL.String()

	var rows []row
	for _, table := range os.Args[4:] {
		rows = append(rows, readTable(table)...)
	}
	compareSearches(cd, endpoint, cli, rows)
	for _, r := range readTable(filepath.Join(cases, "serve-paging.tsv")) {
		checkPaging(cd, r["criteria"], r["sort"])
	}
	for _, container := range []string{"0", "A0$128", "A0$128$130"} {
		checkBrowse(cd, cli, container)
	}
	checkFilter(endpoint)
	checkFaults(cd, endpoint, readTable(filepath.Join(cases, "serve-faults.tsv")))

	// The capabilities are the command line's for the same options.
	out, err := exec.Command(cli, "caps").Output()
	searchCaps, _ := cd.GetSearchCapabilities()
	sortCaps, _ := cd.GetSortCapabilities()
	if want := fmt.Sprintf("search: %s\nsort: %s\n", searchCaps, sortCaps); err != nil || string(out) != want || searchCaps == "" {
		fail("capabilities: the server's %q, the command line's %q (%v)", want, out, err)
	}
	if id, err := cd.GetSystemUpdateID(); err != nil || id == 0 {
		fail("GetSystemUpdateID: %d %v", id, err)
	}
	managers, err := av1.NewConnectionManager1ClientsByURL(location)
	if err != nil || len(managers) != 1 {
		fail("no ConnectionManager: %v", err)
	} else if source, _, err := managers[0].GetProtocolInfo(); err != nil || !strings.Contains(source, "http-get:*:audio/mpeg:*") {
		fail("GetProtocolInfo: %q %v", source, err)
	} else if ids, err := managers[0].GetCurrentConnectionIDs(); err != nil || ids != "0" {
		fail("GetCurrentConnectionIDs: %q %v", ids, err)
	}

	checkHostile(cd, endpoint)
	if failures > 0 {
		fmt.Printf("%d checks failed\n", failures)
		os.Exit(1)
	}
	fmt.Printf("all checks passed (%d searches compared)\n", len(rows))
}
