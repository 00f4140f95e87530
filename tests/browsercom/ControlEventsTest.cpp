// A control's type information and events as the container reads and delivers them: the tables,
// synchronous events with values written back, queued events, argument counts, value conversions and
// the parameter lookup by name.

#include <cstring>
#include <memory>

#include <gtest/gtest.h>
#include <wx/datetime.h>

#include "browser/activex/ActiveXEventRegistry.h"
#include "browser/activex/ActiveXHost.h"
#include "browser/activex/ActiveXVariants.h"
#include "browser/com/WideText.h"
#include "browsercom/FakeControl.h"

using namespace bcxtest;

namespace {

const wxEventType& kBeforeNavigate = RegisterActiveXEvent(wxS("BeforeNavigate2"));
const wxEventType& kCommandState = RegisterActiveXEvent(wxS("CommandStateChange"));
const wxEventType& kValues = RegisterActiveXEvent(wxS("valueschange"));

class EventsFixture : public FakeHostTest {
protected:
    void SetUp() override
    {
        Create();
        ASSERT_NE(mRecord.live, nullptr);
    }
};

} // namespace

TEST_F(EventsFixture, TablesHoldTheDefaultInterfacesOnlyWithNamesParametersAndMarks)
{
    const ActiveXTypeTables& t = mHost->Tables();
    ASSERT_EQ(t.events.size(), 4u);
    const ActiveXFuncInfo& navigate = t.events[size_t(t.eventIds.at(DISPID_BEFORENAVIGATE2))];
    EXPECT_TRUE(navigate.hasOut);
    ASSERT_EQ(navigate.params.size(), 4u);
    EXPECT_EQ(navigate.params[1].name, wxS("URL"));
    EXPECT_TRUE(navigate.params[1].isPtr);
    EXPECT_EQ(navigate.params[3].flags, IDLFLAG_FIN | IDLFLAG_FOUT);
    EXPECT_FALSE(t.events[size_t(t.eventIds.at(DISPID_COMMANDSTATECHANGE))].hasOut);

    ASSERT_EQ(t.methods.size(), 2u) << "the methods of interfaces that are not the default are not kept";
    const ActiveXFuncInfo& method = t.methods[size_t(t.methodNames.at(wxS("NAVIGATE")))];
    ASSERT_EQ(method.params.size(), 2u);
    EXPECT_EQ(method.params[0].name, wxS("URL")) << "the function's own name is not a parameter's";
    EXPECT_EQ(method.params[1].flags & IDLFLAG_FRETVAL, IDLFLAG_FRETVAL);
    EXPECT_EQ(t.methodNames.count(wxS("Refresh")), 0u);

    // Get and put of one property, named in different letter case, make one entry.
    ASSERT_EQ(t.props.size(), 2u);
    const ActiveXPropInfo& visible = t.props[size_t(t.propNames.at(wxS("VISIBLE")))];
    EXPECT_EQ(visible.typePut.vt, VT_BOOL);
    EXPECT_FALSE(visible.putByRef);
    EXPECT_TRUE(t.props[size_t(t.propNames.at(wxS("parent")))].putByRef);
}

TEST_F(EventsFixture, AControlWithoutClassInformationHasNoTablesAndNoSink)
{
    mHost.reset();
    mRecord.provideClassInfo = false;
    Create();
    EXPECT_TRUE(mHost->Tables().events.empty());
    EXPECT_EQ(mRecord.live->SinkCount(), 0);
    EXPECT_TRUE(mRecord.Called("DoVerb -5 0,0,200,100 site host")) << "everything else still works";
}

TEST_F(EventsFixture, AHandlerThatCancelsANavigationIsHeardByTheControlBeforeTheEventReturns)
{
    wxString seenUrl;
    int parameters = 0;
    mSide.handler = [&](wxEventType type, ActiveXEventParams& event) {
        ASSERT_EQ(type, kBeforeNavigate);
        parameters = int(event.List().GetCount());
        seenUrl = event[wxS("url")].GetString();
        if (seenUrl.StartsWith(wxS("bcx:")))
            event[wxS("cancel")] = true;
    };
    EXPECT_NE(mRecord.live->Navigate(u"bcx:about"), VARIANT_FALSE);
    EXPECT_EQ(seenUrl, wxS("bcx:about"));
    EXPECT_EQ(parameters, 4);
    EXPECT_EQ(mRecord.live->Navigate(u"http://127.0.0.1/"), VARIANT_FALSE);
    ASSERT_EQ(mSide.delivered.size(), 2u);
    EXPECT_TRUE(mSide.delivered[0].synchronous);
    EXPECT_EQ(mSide.delivered[0].params.GetName(), wxS("BeforeNavigate2"));
    EXPECT_EQ(mSide.delivered[0].params[3].GetName(), wxS("Cancel")) << "declaration order";
}

TEST_F(EventsFixture, EventsWithoutOutParametersAreQueuedWithNoMoreArgumentsThanDeclared)
{
    long command = 0;
    bool enable = false;
    mSide.handler = [&](wxEventType type, ActiveXEventParams& event) {
        EXPECT_EQ(type, kCommandState);
        command = event[wxS("Command")].GetLong();
        enable = event[wxS("Enable")].GetBool();
    };
    VARIANT args[3] = {Value(VT_I4), Value(VT_BOOL), Value(VT_I4)};
    args[0].lVal = CSC_NAVIGATEBACK;
    args[1].boolVal = VARIANT_TRUE;
    mRecord.live->Fire(DISPID_COMMANDSTATECHANGE, args, 2);
    EXPECT_EQ(command, 0) << "not handled inside the control's call";
    EXPECT_EQ(mSide.RunQueued(), 1);
    EXPECT_EQ(command, CSC_NAVIGATEBACK);
    EXPECT_TRUE(enable);

    mRecord.live->Fire(DISPID_COMMANDSTATECHANGE, args, 3);
    ASSERT_EQ(mSide.queued.size(), 1u);
    EXPECT_EQ(mSide.queued[0].params.GetCount(), 2u) << "no more than declared";
    mSide.queued.clear();

    // Fewer than declared: named from the first.
    mRecord.live->Fire(DISPID_COMMANDSTATECHANGE, args, 1);
    ASSERT_EQ(mSide.queued.size(), 1u);
    ASSERT_EQ(mSide.queued[0].params.GetCount(), 1u);
    EXPECT_EQ(mSide.queued[0].params[0].GetName(), wxS("Command"));
    EXPECT_EQ(mSide.queued[0].params[0].GetLong(), CSC_NAVIGATEBACK);
}

TEST_F(EventsFixture, UnregisteredOrUnknownEventsAreAcknowledgedAndDropped)
{
    VARIANT text = Value(VT_BSTR);
    text.bstrVal = SysAllocString(u"Done");
    EXPECT_EQ(mRecord.live->Fire(FakeDispStatusText, &text, 1), 1);
    EXPECT_EQ(mRecord.live->Fire(4242, nullptr, 0), 1);
    EXPECT_TRUE(mSide.delivered.empty());
    VariantClear(&text);
}

TEST_F(EventsFixture, ValuesArriveConvertedAndWrittenBackWithoutLeaksOrChangesToInputs)
{
    VARIANT args[6] = {Value(VT_I2), Value(VT_DATE), Value(VT_DECIMAL), Value(VT_VARIANT),
                       Value(VT_BSTR | VT_BYREF), Value(VT_I4 | VT_BYREF)};
    args[0].iVal = -1;
    args[1].date = 2.5;
    VarDecFromR8(-12.5, &args[2].decVal);
    args[3].lVal = 1234;   // a by-value VT_VARIANT carries nothing the container may change
    BSTR name = SysAllocString(u"old");
    LONG count = 3;
    args[4].pbstrVal = &name;
    args[5].plVal = &count;
    VARIANT before[6];
    std::memcpy(before, args, sizeof args);

    wxVariant seen;
    mSide.handler = [&](wxEventType type, ActiveXEventParams& event) {
        EXPECT_EQ(type, kValues);
        // Element by element: a copied list shares its elements with the event's.
        seen.NullList();
        for (size_t i = 0; i < event.List().GetCount(); ++i)
            seen.Append(event.List()[i]);
        event[wxS("Name")] = wxString(wxS("new"));
        event[wxS("Count")] = 9L;
    };
    const long strings = bcx::com::LiveStringCount();
    mRecord.live->Fire(FakeDispValues, args, 6);

    ASSERT_EQ(seen.GetCount(), 6u);
    EXPECT_EQ(seen[0].GetLong(), 65535) << "16 bits read unsigned";
    const wxDateTime when = seen[1].GetDateTime();
    EXPECT_EQ(when.GetYear(), 1900);
    EXPECT_EQ(when.GetHour(), 12);
    EXPECT_DOUBLE_EQ(seen[2].GetDouble(), -12.5);
    EXPECT_TRUE(seen[3].IsNull());
    EXPECT_EQ(seen[4].GetString(), wxS("old"));

    EXPECT_EQ(bcx::com::FromBstr(name), wxS("new"));
    EXPECT_EQ(count, 9);
    EXPECT_EQ(bcx::com::LiveStringCount(), strings) << "the old string was freed when the new one was written";
    EXPECT_EQ(std::memcmp(&args[0], &before[0], 4 * sizeof(VARIANT)), 0) << "inputs are left as they came";
    SysFreeString(name);
}

TEST(ActiveXVariants, ConversionsTowardTheControlKeepItsTypesAndRefuseWhatTheyCannotHold)
{
    VARIANT flag = Value(VT_BOOL);
    EXPECT_TRUE(VariantToMSWVariant(wxVariant(true), flag));
    EXPECT_EQ(flag.boolVal, 1) << "1, not VARIANT_TRUE";

    VARIANT small = Value(VT_I2);
    EXPECT_TRUE(VariantToMSWVariant(wxVariant(70000L), small));
    EXPECT_EQ(small.iVal, SHORT(70000 & 0xFFFF)) << "truncated";

    VARIANT big = Value(VT_I8);
    big.llVal = 5;
    EXPECT_FALSE(VariantToMSWVariant(wxVariant(7L), big));
    EXPECT_EQ(big.llVal, 5);
    VARIANT nothing = Value(VT_BOOL | VT_BYREF);
    EXPECT_FALSE(VariantToMSWVariant(wxVariant(true), nothing)) << "a null reference is not written through";

    // A by-value VT_VARIANT takes the value's own type; by reference the referenced one is written.
    VARIANT any = Value(VT_VARIANT);
    EXPECT_TRUE(VariantToMSWVariant(wxVariant(wxString(wxS("text"))), any));
    EXPECT_EQ(any.vt, VT_BSTR);
    EXPECT_EQ(bcx::com::FromBstr(any.bstrVal), wxS("text"));
    VariantClear(&any);
    VARIANT inner = Value(VT_R8);
    VARIANT ref = Value(VT_VARIANT | VT_BYREF);
    ref.pvarVal = &inner;
    EXPECT_TRUE(VariantToMSWVariant(wxVariant(2.5), ref));
    EXPECT_DOUBLE_EQ(inner.dblVal, 2.5);

    VARIANT date = Value(VT_DATE);
    EXPECT_TRUE(VariantToMSWVariant(wxVariant(wxDateTime(29, wxDateTime::Dec, 1899, 6, 0, 0)), date));
    EXPECT_DOUBLE_EQ(date.date, -1.25);

    // Toward the toolkit: arrays stay as they were, interfaces and empties report false.
    wxVariant target(5L);
    VARIANT array = Value(VT_ARRAY | VT_I4);
    EXPECT_FALSE(MSWVariantToVariant(array, target));
    EXPECT_EQ(target.GetLong(), 5);
    EXPECT_FALSE(MSWVariantToVariant(Value(VT_UNKNOWN), target));
    EXPECT_EQ(target.GetType(), wxS("void*"));
    EXPECT_FALSE(MSWVariantToVariant(Value(VT_EMPTY), target));
    EXPECT_TRUE(target.IsNull());
}

TEST(ActiveXVariants, AParameterLookedUpUnderAMissingNameCannotBeWrittenIntoAnyEvent)
{
    ActiveXEventParams event;
    event.List().NullList();
    event.List().Append(wxVariant(false, wxS("Cancel")));
    event[wxS("NoSuchThing")] = true;
    EXPECT_TRUE(event[wxS("Other")].IsNull()) << "what was written into the missing value is gone";
    EXPECT_EQ(event.List().GetCount(), 1u);
    EXPECT_FALSE(event[wxS("CANCEL")].GetBool());
    event[wxS("cancel")] = true;
    EXPECT_TRUE(event.List()[0].GetBool());
}
